#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace wizard::layout {

namespace {

// The advanced part, hidden until "Advanced >>" is pressed: the mask and the priority slider.
QHBoxLayout* BuildAdvancedRow(SearchModePageUi& ui, QWidget* page) {
    auto* bottom = new QHBoxLayout();
    ui.fraMask = new QGroupBox(QStringLiteral("Search mask"), page);
    ui.fraMask->setObjectName(QStringLiteral("fraMask"));
    auto* maskLayout = new QVBoxLayout(ui.fraMask);
    auto* maskLabel = new QLabel(QStringLiteral("Include the following files in the &search:"), ui.fraMask);
    ui.txtMask = new QLineEdit(ui.fraMask);
    ui.txtMask->setObjectName(QStringLiteral("txtMask"));
    maskLabel->setBuddy(ui.txtMask);
    maskLayout->addWidget(maskLabel);
    maskLayout->addWidget(ui.txtMask);
    maskLayout->addStretch(1);

    ui.fraPerformance = new QGroupBox(QStringLiteral("Acceleration"), page);
    ui.fraPerformance->setObjectName(QStringLiteral("fraPerformance"));
    auto* perfLayout = new QVBoxLayout(ui.fraPerformance);
    ui.sldAccel = new QSlider(Qt::Horizontal, ui.fraPerformance);
    ui.sldAccel->setObjectName(QStringLiteral("sldAccel"));
    ui.sldAccel->setRange(1, 5);
    ui.sldAccel->setPageStep(1);
    ui.sldAccel->setTickPosition(QSlider::TicksBelow);
    ui.sldAccel->setTickInterval(1);
    ui.lblPriority = new QLabel(ui.fraPerformance);
    ui.lblPriority->setObjectName(QStringLiteral("lblPriority"));
    ui.lblPriority->setAlignment(Qt::AlignHCenter);
    perfLayout->addWidget(ui.sldAccel);
    perfLayout->addWidget(ui.lblPriority);
    perfLayout->addStretch(1);

    ui.cmdAdvanced = new QPushButton(QStringLiteral("A&dvanced >>"), page);
    ui.cmdAdvanced->setObjectName(QStringLiteral("cmdAdvanced"));
    bottom->addWidget(ui.fraMask, 3);
    bottom->addWidget(ui.fraPerformance, 2);
    bottom->addStretch(0);
    bottom->addWidget(ui.cmdAdvanced, 0, Qt::AlignBottom | Qt::AlignRight);
    ui.fraMask->hide();
    ui.fraPerformance->hide();
    return bottom;
}

}  // namespace

QWidget* BuildSearchModePage(SearchModePageUi& ui) {
    auto* page = new QWidget();
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(30, 14, 24, 10);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    grid->setColumnMinimumWidth(0, 18);
    grid->addWidget(
        MakeLabel(QStringLiteral("Please specify whether the entire system, a folder, or a single file should be searched."),
                  page),
        0, 0, 1, 4);
    grid->setRowMinimumHeight(1, 4);

    ui.optSearchFile = new QRadioButton(QStringLiteral("Single F&ile:"), page);
    ui.optSearchFile->setObjectName(QStringLiteral("optSearchFile"));
    ui.txtFile = new QLineEdit(page);
    ui.txtFile->setObjectName(QStringLiteral("txtFile"));
    ui.cmdBrowseFile = new QPushButton(QStringLiteral("..."), page);
    ui.cmdBrowseFile->setObjectName(QStringLiteral("cmdBrowseFile"));
    // The boxes' labels are option buttons, which cannot name them: named here
    // for screen readers, as are the "..." buttons.
    ui.txtFile->setAccessibleName(QStringLiteral("Single file"));
    ui.cmdBrowseFile->setAccessibleName(QStringLiteral("Browse\u2026"));
    grid->addWidget(ui.optSearchFile, 2, 0, 1, 2);
    grid->addWidget(ui.txtFile, 2, 2);
    grid->addWidget(ui.cmdBrowseFile, 2, 3);

    ui.optSearchSystem = new QRadioButton(QStringLiteral("&All hard drives"), page);
    ui.optSearchSystem->setObjectName(QStringLiteral("optSearchSystem"));
    grid->addWidget(ui.optSearchSystem, 3, 0, 1, 4);
    ui.optSearchFolder = new QRadioButton(QStringLiteral("S&pecify folder:"), page);
    ui.optSearchFolder->setObjectName(QStringLiteral("optSearchFolder"));
    grid->addWidget(ui.optSearchFolder, 4, 0, 1, 4);

    ui.txtFolder = new QLineEdit(page);
    ui.txtFolder->setObjectName(QStringLiteral("txtFolder"));
    ui.cmdBrowse = new QPushButton(QStringLiteral("..."), page);
    ui.cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    ui.txtFolder->setAccessibleName(QStringLiteral("Folder to search"));
    ui.cmdBrowse->setAccessibleName(QStringLiteral("Browse\u2026"));
    grid->addWidget(ui.txtFolder, 5, 1, 1, 2);
    grid->addWidget(ui.cmdBrowse, 5, 3);
    ui.chkSubFolders = new QCheckBox(QStringLiteral("Look in sub&folders"), page);
    ui.chkSubFolders->setObjectName(QStringLiteral("chkSubFolders"));
    grid->addWidget(ui.chkSubFolders, 6, 1, 1, 3);
    for (auto* b : {ui.cmdBrowseFile, ui.cmdBrowse}) b->setFixedWidth(32);
    grid->setRowStretch(7, 1);

    grid->addLayout(BuildAdvancedRow(ui, page), 8, 0, 1, 4);
    grid->setColumnStretch(2, 1);
    return page;
}

void SetSearchModeTabOrder(SearchModePageUi& ui) {
    QWidget* order[] = {ui.optSearchSystem, ui.optSearchFolder, ui.txtFolder,     ui.cmdBrowse,
                        ui.chkSubFolders,   ui.cmdAdvanced,     ui.txtMask,       ui.sldAccel,
                        ui.optSearchFile,   ui.txtFile,         ui.cmdBrowseFile};
    for (size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
}

}  // namespace wizard::layout
