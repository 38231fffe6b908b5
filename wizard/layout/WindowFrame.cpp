// The frame of the window around the pages: header band, watermark, the page
// stack and the button band.
#include "wizard/layout/frmMainUi.h"
#include "wizard/mWizardArt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildHeaderBand(HeaderBandUi& ui, QWidget* window) {
    auto* hdr = new QWidget(window);
    hdr->setObjectName(QStringLiteral("fraScreenHdr"));
    hdr->setAutoFillBackground(true);
    QPalette pal = hdr->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    hdr->setPalette(pal);
    auto* outer = new QVBoxLayout(hdr);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* row = new QHBoxLayout();
    row->setContentsMargins(20, 10, 12, 10);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(4);
    ui.lblScrnTitle = new QLabel(hdr);
    ui.lblScrnTitle->setObjectName(QStringLiteral("lblScrnTitle"));
    QFont bold = ui.lblScrnTitle->font();
    bold.setBold(true);
    ui.lblScrnTitle->setFont(bold);
    ui.lblScrnSubTitle = new QLabel(hdr);
    ui.lblScrnSubTitle->setObjectName(QStringLiteral("lblScrnSubTitle"));
    ui.lblScrnSubTitle->setContentsMargins(16, 0, 0, 0);
    texts->addWidget(ui.lblScrnTitle);
    texts->addWidget(ui.lblScrnSubTitle);
    row->addLayout(texts, 1);
    ui.imgLogo = new QLabel(hdr);
    ui.imgLogo->setObjectName(QStringLiteral("imgLogo"));
    ui.imgLogo->setPixmap(WizardPicture(WizardPictureKind::Logo));
    row->addWidget(ui.imgLogo, 0, Qt::AlignVCenter);
    outer->addLayout(row);
    auto* line = MakeEtchedLine(hdr);
    line->setObjectName(QStringLiteral("l3dTopLine"));
    outer->addWidget(line);
    ui.fraScreenHdr = hdr;
    return hdr;
}

QWidget* BuildWatermark(WatermarkUi& ui, QWidget* window) {
    ui.fraWatermark = new QWidget(window);
    ui.fraWatermark->setObjectName(QStringLiteral("fraWatermark"));
    auto* col = new QVBoxLayout(ui.fraWatermark);
    col->setContentsMargins(0, 0, 0, 0);
    ui.imgWatermark = new QLabel(ui.fraWatermark);
    ui.imgWatermark->setObjectName(QStringLiteral("imgWatermark"));
    ui.imgWatermark->setPixmap(WizardPicture(WizardPictureKind::Watermark));
    ui.imgWatermark->setScaledContents(true);
    ui.imgWatermark->setFixedWidth(164);
    ui.imgWatermark->setMinimumHeight(1);  // scaled to the window's height
    ui.imgWatermark->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    col->addWidget(ui.imgWatermark);
    return ui.fraWatermark;
}

QWidget* BuildButtonBand(ButtonBandUi& ui, QWidget* window) {
    auto* band = new QWidget(window);
    band->setObjectName(QStringLiteral("fraBottomBack"));
    auto* outer = new QVBoxLayout(band);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* line = MakeEtchedLine(band);
    line->setObjectName(QStringLiteral("l3dBottomLine"));
    outer->addWidget(line);
    auto* row = new QHBoxLayout();
    row->setContentsMargins(12, 10, 12, 10);
    row->addStretch(1);
    ui.cmdBack = new QPushButton(QStringLiteral("< &Back"), band);
    ui.cmdBack->setObjectName(QStringLiteral("cmdBack"));
    ui.cmdNext = new QPushButton(QStringLiteral("&Next >"), band);
    ui.cmdNext->setObjectName(QStringLiteral("cmdNext"));
    ui.cmdCancel = new QPushButton(QStringLiteral("Cancel"), band);
    ui.cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    for (auto* b : {ui.cmdBack, ui.cmdNext, ui.cmdCancel}) b->setMinimumWidth(88);
    row->addWidget(ui.cmdBack);
    row->addSpacing(2);
    row->addWidget(ui.cmdNext);
    row->addSpacing(10);
    row->addWidget(ui.cmdCancel);
    outer->addLayout(row);
    return band;
}

void frmMainUi::setupUi(QWidget* window) {
    auto* root = new QVBoxLayout(window);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(BuildHeaderBand(*this, window));

    auto* middle = new QHBoxLayout();
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    middle->addWidget(BuildWatermark(*this, window));
    fraScreen = new QStackedWidget(window);
    fraScreen->setObjectName(QStringLiteral("fraScreen"));
    pages = {BuildWelcomePage(),
             BuildSearchModePage(*this),
             BuildResourceTypesPage(*this),
             BuildDestinationPage(*this),
             BuildReadyPage(),
             BuildProgressPage(*this),
             BuildFinishPage(*this)};
    for (int i = 0; i < kPageCount; ++i) {
        pages[i]->setObjectName(QStringLiteral("fraScreen%1").arg(i));
        fraScreen->addWidget(pages[i]);
    }
    middle->addWidget(fraScreen, 1);
    SetSearchModeTabOrder(*this);
    root->addLayout(middle, 1);
    root->addWidget(BuildButtonBand(*this, window));

    // The window opens on the welcome page alone: no header, no watermark.
    fraScreen->setCurrentIndex(0);
    fraScreenHdr->hide();
    fraWatermark->hide();
    cmdBack->setEnabled(false);
    cmdNext->setEnabled(true);
    cmdCancel->setEnabled(true);

    // The design's 620 x 460 at the usual font; a larger font grows the
    // window to what its pages need. Not fixed: a fixed window's maximize
    // (which Wayland's decorations keep offering) is a protocol error there.
    root->setSizeConstraint(QLayout::SetMinimumSize);
    window->resize(QSize(620, 460).expandedTo(window->minimumSizeHint()));
}

void frmMainUi::LayOutPage(int index) {
    QWidget* page = pages[index];
    if (page == fraScreen->currentWidget()) return;
    page->setGeometry(fraScreen->contentsRect());
    if (page->layout()) page->layout()->setGeometry(page->rect());
}

}  // namespace wizard::layout
