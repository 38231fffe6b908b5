// The widgets of the wizard window, built apart from its behaviour: one
// layout unit per page and one for the frame around them. frmMain inherits
// the pointers, so its handlers name the controls directly.
#pragma once

#include <array>
#include <cstdint>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QStackedWidget;
class QTreeWidget;
class QWidget;

namespace wizard::layout {

inline constexpr int16_t kPageCount = 7;

// Header band over pages 1 to 5: title, subtitle, logo and the line below.
struct HeaderBandUi {
    QWidget* fraScreenHdr = nullptr;
    QLabel* lblScrnTitle = nullptr;
    QLabel* lblScrnSubTitle = nullptr;
    QLabel* imgLogo = nullptr;
};
QWidget* BuildHeaderBand(HeaderBandUi& ui, QWidget* window);

// The tall picture at the left edge of the finish page.
struct WatermarkUi {
    QWidget* fraWatermark = nullptr;
    QLabel* imgWatermark = nullptr;
};
QWidget* BuildWatermark(WatermarkUi& ui, QWidget* window);

// Back, Next and Cancel below the pages.
struct ButtonBandUi {
    QPushButton* cmdBack = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdCancel = nullptr;
};
QWidget* BuildButtonBand(ButtonBandUi& ui, QWidget* window);

QWidget* BuildWelcomePage();

struct SearchModePageUi {
    QRadioButton* optSearchFile = nullptr;
    QRadioButton* optSearchSystem = nullptr;
    QRadioButton* optSearchFolder = nullptr;
    QLineEdit* txtFile = nullptr;
    QLineEdit* txtFolder = nullptr;
    QPushButton* cmdBrowseFile = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QCheckBox* chkSubFolders = nullptr;
    QGroupBox* fraMask = nullptr;
    QGroupBox* fraPerformance = nullptr;
    QLineEdit* txtMask = nullptr;
    QSlider* sldAccel = nullptr;
    QLabel* lblPriority = nullptr;
    QPushButton* cmdAdvanced = nullptr;
};
QWidget* BuildSearchModePage(SearchModePageUi& ui);
// Tab order of the search-mode page; valid once the page belongs to the window.
void SetSearchModeTabOrder(SearchModePageUi& ui);

struct ResourceTypesPageUi {
    QListWidget* lvResTypes = nullptr;
};
QWidget* BuildResourceTypesPage(ResourceTypesPageUi& ui);

struct DestinationPageUi {
    QLineEdit* txtDestPath = nullptr;
    QPushButton* cmdBrowseDest = nullptr;
    QCheckBox* chkGallery = nullptr;
};
QWidget* BuildDestinationPage(DestinationPageUi& ui);

QWidget* BuildReadyPage();

struct ProgressPageUi {
    QWidget* aniAnim = nullptr;
    QLabel* lblStatus = nullptr;
    QWidget* l3dProgressBack = nullptr;
    QProgressBar* prbProgress = nullptr;
    QWidget* l3dCenterLine = nullptr;
    QTreeWidget* lvResStats = nullptr;
};
QWidget* BuildProgressPage(ProgressPageUi& ui);

struct FinishPageUi {
    QPushButton* cmdShowFolder = nullptr;
};
QWidget* BuildFinishPage(FinishPageUi& ui);

// The whole window: header, watermark, the page stack and the button band,
// in the state the window opens in (the welcome page alone).
struct frmMainUi : HeaderBandUi,
                   WatermarkUi,
                   ButtonBandUi,
                   SearchModePageUi,
                   ResourceTypesPageUi,
                   DestinationPageUi,
                   ProgressPageUi,
                   FinishPageUi {
    QStackedWidget* fraScreen = nullptr;
    std::array<QWidget*, kPageCount> pages{};

    void setupUi(QWidget* window);
    // The stack lays out only the page on show; this lays out another at the
    // stack's size, so that code filling it sees the sizes it will show with.
    void LayOutPage(int index);
};

}  // namespace wizard::layout
