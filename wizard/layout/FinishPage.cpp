#include "wizard/layout/LayoutParts.h"
#include "wizard/layout/frmMainUi.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace wizard::layout {

QWidget* BuildFinishPage(FinishPageUi& ui) {
    auto* page = new QWidget();
    auto* col = PageColumn(page, 20, 20, 20, 12);
    col->setSpacing(14);
    col->addWidget(MakeLargeLabel(QStringLiteral("Search finished"), page));
    col->addWidget(MakeLabel(QStringLiteral("Loomvale has finished the search. Click on Show resources to open the "
                                            "destination folder containing the extracted resources."),
                             page));
    auto* frame = new QFrame(page);
    frame->setObjectName(QStringLiteral("fraShowFolder"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(12, 10, 12, 10);
    ui.cmdShowFolder = new QPushButton(QStringLiteral("Show &Resources"), frame);
    ui.cmdShowFolder->setObjectName(QStringLiteral("cmdShowFolder"));
    row->addWidget(ui.cmdShowFolder);
    row->addStretch(1);
    col->addWidget(frame);
    col->addWidget(MakeLabel(QStringLiteral("Click on close to exit Loomvale"), page));
    col->addStretch(1);
    return page;
}

}  // namespace wizard::layout
