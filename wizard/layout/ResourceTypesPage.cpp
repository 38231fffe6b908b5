#include "wizard/layout/CheckList.h"
#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"

#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildResourceTypesPage(ResourceTypesPageUi& ui) {
    auto* page = new QWidget();
    auto* col = PageColumn(page, 30, 14, 30, 14);
    col->addWidget(MakeLabel(QStringLiteral("Choose the resource types you want to extract."), page));
    ui.lvResTypes = new CheckList(page);
    ui.lvResTypes->setObjectName(QStringLiteral("lvResTypes"));
    ui.lvResTypes->setAccessibleName(QStringLiteral("Resource types"));
    ui.lvResTypes->setIconSize(QSize(16, 16));
    ui.lvResTypes->setSelectionMode(QAbstractItemView::SingleSelection);
    col->addWidget(ui.lvResTypes, 1);
    return page;
}

}  // namespace wizard::layout
