#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"
#include "wizard/mWizardArt.h"

#include <algorithm>

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildProgressPage(ProgressPageUi& ui) {
    auto* page = new QWidget();
    auto* col = PageColumn(page, 30, 12, 30, 12);
    col->setSpacing(8);
    // The clip is wide: it has a row of its own above the status text.
    ui.aniAnim = MakeAnimation(page);
    ui.aniAnim->setObjectName(QStringLiteral("aniAnim"));
    col->addWidget(ui.aniAnim, 0, Qt::AlignHCenter);
    ui.lblStatus = MakeLabel(QString(), page);
    ui.lblStatus->setObjectName(QStringLiteral("lblStatus"));
    ui.lblStatus->setMinimumHeight(ui.lblStatus->fontMetrics().lineSpacing() * 2 + 4);
    ui.lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    col->addWidget(ui.lblStatus);

    ui.l3dProgressBack = MakeSunkenFrame(page);
    ui.l3dProgressBack->setObjectName(QStringLiteral("l3dProgressBack"));
    // The bar at (1, 1), so the one-pixel edge touches it on every side.
    auto* frameLayout = new QVBoxLayout(ui.l3dProgressBack);
    frameLayout->setContentsMargins(1, 1, 1, 1);
    ui.prbProgress = new QProgressBar(ui.l3dProgressBack);
    ui.prbProgress->setObjectName(QStringLiteral("prbProgress"));
    ui.prbProgress->setAccessibleName(QStringLiteral("Search progress"));
    ui.prbProgress->setRange(0, 50);
    ui.prbProgress->setValue(0);
    ui.prbProgress->setTextVisible(false);
    ui.prbProgress->setFixedHeight(17);
    frameLayout->addWidget(ui.prbProgress);
    ui.l3dProgressBack->hide();
    // Keep the layout steady whether the frame shows or not.
    QSizePolicy keep = ui.l3dProgressBack->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ui.l3dProgressBack->setSizePolicy(keep);
    col->addWidget(ui.l3dProgressBack);

    // The etched line between the bar and the counts, across the column.
    ui.l3dCenterLine = MakeEtchedLine(page);
    ui.l3dCenterLine->setObjectName(QStringLiteral("l3dCenterLine"));
    col->addWidget(ui.l3dCenterLine);

    ui.lvResStats = new QTreeWidget(page);
    ui.lvResStats->setObjectName(QStringLiteral("lvResStats"));
    ui.lvResStats->setAccessibleName(QStringLiteral("Resources found"));
    ui.lvResStats->setColumnCount(2);
    ui.lvResStats->setHeaderLabels({QStringLiteral("Resource type"), QStringLiteral("Found")});
    ui.lvResStats->setRootIsDecorated(false);
    ui.lvResStats->setIconSize(QSize(16, 16));
    ui.lvResStats->setSelectionMode(QAbstractItemView::NoSelection);
    ui.lvResStats->setFocusPolicy(Qt::NoFocus);
    // Column widths are AutoSizeColumns' to set.
    ui.lvResStats->header()->setStretchLastSection(false);
    ui.lvResStats->header()->setSectionResizeMode(QHeaderView::Interactive);
    // Room for a row per kind (six), the header and the frame: no scroll bar
    // at any font. A row is the taller of the text and the 16-pixel icon.
    const int line = ui.lvResStats->fontMetrics().height();
    ui.lvResStats->setMinimumHeight(7 * (std::max(line, 16) + 4) + 2 * ui.lvResStats->frameWidth());
    col->addWidget(ui.lvResStats, 1);
    return page;
}

}  // namespace wizard::layout
