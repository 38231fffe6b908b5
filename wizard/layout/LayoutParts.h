// Small pieces the page layouts share.
#pragma once

#include <QLabel>
#include <QString>

class QVBoxLayout;
class QWidget;

namespace wizard::layout {

QLabel* MakeLabel(const QString& text, QWidget* parent, bool wrap = true);
QLabel* MakeLargeLabel(const QString& text, QWidget* parent);
// A page whose contents stand in one column with the given margins.
QVBoxLayout* PageColumn(QWidget* page, int left, int top, int right, int bottom);

}  // namespace wizard::layout
