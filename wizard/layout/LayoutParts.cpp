#include "wizard/layout/LayoutParts.h"

#include <QLabel>
#include <QVBoxLayout>

namespace wizard::layout {

QLabel* MakeLabel(const QString& text, QWidget* parent, bool wrap) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(wrap);
    return label;
}

QLabel* MakeLargeLabel(const QString& text, QWidget* parent) {
    auto* label = MakeLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    label->setFont(font);
    return label;
}

QVBoxLayout* PageColumn(QWidget* page, int left, int top, int right, int bottom) {
    auto* col = new QVBoxLayout(page);
    col->setContentsMargins(left, top, right, bottom);
    return col;
}

}  // namespace wizard::layout
