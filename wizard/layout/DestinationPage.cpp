#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildDestinationPage(DestinationPageUi& ui) {
    auto* page = new QWidget();
    auto* col = PageColumn(page, 30, 14, 30, 14);
    col->setSpacing(10);
    col->addWidget(MakeLabel(QStringLiteral("Please specify the folder where the extacted resources will be saved."), page));
    auto* row = new QHBoxLayout();
    ui.txtDestPath = new QLineEdit(page);
    ui.txtDestPath->setObjectName(QStringLiteral("txtDestPath"));
    ui.cmdBrowseDest = new QPushButton(QStringLiteral("..."), page);
    ui.cmdBrowseDest->setObjectName(QStringLiteral("cmdBrowseDest"));
    ui.cmdBrowseDest->setFixedWidth(32);
    ui.txtDestPath->setAccessibleName(QStringLiteral("Destination folder"));
    ui.cmdBrowseDest->setAccessibleName(QStringLiteral("Browse\u2026"));
    row->addWidget(ui.txtDestPath, 1);
    row->addWidget(ui.cmdBrowseDest);
    col->addLayout(row);
    // Beyond the folder: a page in it that shows what it holds.
    ui.chkGallery = new QCheckBox(QStringLiteral("Write a &gallery page"), page);
    ui.chkGallery->setObjectName(QStringLiteral("chkGallery"));
    col->addWidget(ui.chkGallery);
    col->addStretch(1);
    return page;
}

}  // namespace wizard::layout
