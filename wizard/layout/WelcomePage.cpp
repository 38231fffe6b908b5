#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"
#include "wizard/mWizardArt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildWelcomePage() {
    auto* page = new QWidget();
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(0, 0, 0, 0);
    auto* img = new QLabel(page);
    img->setObjectName(QStringLiteral("imgWizard"));
    img->setPixmap(WizardPicture(WizardPictureKind::Wizard));
    img->setScaledContents(true);
    img->setFixedWidth(164);
    img->setMinimumHeight(1);  // scaled: its height is the page's, not a minimum of it
    img->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    row->addWidget(img);
    auto* col = new QVBoxLayout();
    col->setContentsMargins(20, 20, 20, 12);
    col->setSpacing(14);
    col->addWidget(MakeLargeLabel(QStringLiteral("Welcome to Loomvale"), page));
    col->addWidget(MakeLabel(
        QStringLiteral("Loomvale finds resources in program files on your system and extracts them to a folder."),
        page));
    col->addWidget(MakeLabel(QStringLiteral("Click on next to continue."), page));
    col->addStretch(1);
    auto* notice = MakeLabel(QStringLiteral("Copyright \u00A9 2026 the Loomvale developers. Free software."), page);
    notice->setObjectName(QStringLiteral("lblCopyright"));
    auto* contact = MakeLabel(QStringLiteral("Contact: loomvale@example.org"), page);
    contact->setObjectName(QStringLiteral("lblContact"));
    for (auto* l : {notice, contact}) {
        QFont f = l->font();
        f.setPointSizeF(f.pointSizeF() * 0.85);
        l->setFont(f);  // small, but in the text's own colour: greyed text is hard to read
        col->addWidget(l);
    }
    row->addLayout(col, 1);
    return page;
}

}  // namespace wizard::layout
