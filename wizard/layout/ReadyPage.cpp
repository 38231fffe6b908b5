#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"

#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildReadyPage() {
    auto* page = new QWidget();
    auto* col = PageColumn(page, 30, 14, 30, 14);
    col->addWidget(MakeLabel(
        QStringLiteral("Click on finish to start the search. The process may take several minutes."), page));
    col->addStretch(1);
    return page;
}

}  // namespace wizard::layout
