#include "wizard/frmMain.h"

#include "platform/system/MessageBox.h"
#include "platform/fs/PathUtil.h"
#include "platform/system/Priority.h"
#include "platform/system/SystemVersion.h"
#include "wizard/mDialogFile.h"
#include "wizard/mSettings.h"
#include "wizard/mWizardArt.h"

#include "engine/GalleryPage.h"
#include "engine/mResCore.h"
#include "search/cSearchCore.h"
#include "wizard/mRunProgress.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLabel>
#include <QProgressBar>
#include <QHeaderView>
#include <QStackedWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSlider>
#include <QTreeWidget>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace wizard {

using engine::kFalse;
using engine::kTrue;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

std::function<void()>& ProgramEndHook() {
    static std::function<void()> hook = [] { QCoreApplication::exit(0); };
    return hook;
}

std::function<bool(const QString&)>& OpenFolderService() {
    static std::function<bool(const QString&)> service = [](const QString& folder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    return service;
}

std::function<uint32_t()>& TickSource() {
    static std::function<uint32_t()> ticks = [] { return RunTicks(); };
    return ticks;
}

const QString kWaitLine = QStringLiteral("Please wait while Loomvale is scanning your system for resources.\r\n");

// User input is taken at least this often while the walk runs.
constexpr qint64 kInputEveryMs = 100;
// Paint and timers are handled at most this often, however often the walk or
// the engine offers a moment.
constexpr qint64 kPaintEveryMs = 15;
// How long the run waits for the window system to show the progress page.
constexpr qint64 kShowWaitMs = 2000;

const char* const kPriorityLabels[] = {"Lowest", "Low", "Normal", "High", "Highest"};

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Qt labels break lines on '\n' only.
QString ForLabel(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

}  // namespace

// Receives the search object's events for the window.
class SearchEvents : public search::ISearchEvents {
public:
    explicit SearchEvents(frmMain& form) : form_(form) { core_.SetEvents(this); }
    void FileFound(std::string& FileName, int32_t& FileCount, int32_t& DirCount, int16_t& Cancel) override {
        form_.SearchCore_FileFound(FileName, FileCount, DirCount, Cancel);
    }
    void SearchFinished() override { form_.SearchCore_SearchFinished(); }
    void Idle(int16_t& Cancel) override { form_.SearchCore_Idle(Cancel); }
    search::cSearchCore& Core() { return core_; }

private:
    search::cSearchCore core_;
    frmMain& form_;
};

void frmMain::SetProgramEndHook(std::function<void()> hook) { ProgramEndHook() = std::move(hook); }
void frmMain::SetOpenFolderService(std::function<bool(const QString&)> service) {
    OpenFolderService() = std::move(service);
}
void frmMain::SetTickSource(std::function<uint32_t()> ticks) { TickSource() = std::move(ticks); }

namespace {

// The window is the application's frame to a screen reader, not a filler.
QAccessibleInterface* WindowAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String("wizard::frmMain") || !object || !object->isWidgetType()) return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    static const bool accessibleWindow = (QAccessible::installFactory(WindowAccessible), true);
    (void)accessibleWindow;
    setObjectName(QStringLiteral("frmMain"));
    setupUi(this);
    ConnectHandlers();
    Form_Initialize();
    Form_Load();
}

frmMain::~frmMain() { DeleteAnimFile(); }

void frmMain::Form_Initialize() {
    SearchCore = std::make_unique<SearchEvents>(*this);
    setWindowTitle(QStringLiteral("Loomvale ") + QStringLiteral(LOOMVALE_VERSION));
}

void frmMain::Form_Load() {
    InitScreenTitles();
    LoadSettings(*this);
    ShowSetAsideStores();
    FillResTypes();
}

void frmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    // A confirmed cancel ends the program from the progress page without
    // leaving it: the animation's temporary file must not stay behind.
    DeleteAnimFile();
    SaveSettings(*this, endingSession_ ? SaveErrors::StandardError : SaveErrors::Box);
    if (ProgramEndHook()) ProgramEndHook()();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (CurPage == Progress && !closeRequested_ && !unloaded_) {
        // The desktop may keep drawing the close button the run took away
        // (Wayland's, a window manager's, Alt+F4): it asks the cancel
        // question as Cancel does, where the run takes input.
        event->ignore();
        closeAsked_ = true;
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::InitScreenTitles() {
    ScreenTitles = {};
    ScreenSubTitles = {};
    ScreenTitles[1] = QStringLiteral("Search mode");
    ScreenSubTitles[1] = QStringLiteral("Specify here where the search should take place.");
    ScreenTitles[2] = QStringLiteral("Resource types");
    ScreenSubTitles[2] = QStringLiteral("Check the resource types you are looking for.");
    ScreenTitles[3] = QStringLiteral("Destination");
    ScreenSubTitles[3] = QStringLiteral("Please choose a destination folder for the resources.");
    ScreenTitles[4] = QStringLiteral("Ready");
    ScreenSubTitles[4] = QStringLiteral("Loomvale is ready to search.");
    ScreenTitles[5] = QStringLiteral("Search in progress...");
    ScreenSubTitles[5] = QStringLiteral("The operation may take several minutes.");
}

// ---------------------------------------------------------------- wiring

void frmMain::ConnectHandlers() {
    connect(cmdNext, &QPushButton::clicked, this, &frmMain::cmdNext_Click);
    connect(cmdBack, &QPushButton::clicked, this, &frmMain::cmdBack_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
    // The Esc key presses Cancel, as the window's cancel button.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, [this] {
        if (cmdCancel->isEnabled() && cmdCancel->isVisible()) cmdCancel->click();
    });
    // Return and Enter press the focused button, else the default one.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        connect(enter, &QShortcut::activated, this, &frmMain::PressDefault);
    }
    connect(optSearchSystem, &QRadioButton::clicked, this, &frmMain::optSearchSystem_Click);
    connect(optSearchFolder, &QRadioButton::clicked, this, &frmMain::optSearchFolder_Click);
    connect(optSearchFile, &QRadioButton::clicked, this, &frmMain::optSearchFile_Click);
    connect(cmdAdvanced, &QPushButton::clicked, this, &frmMain::cmdAdvanced_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmMain::cmdBrowse_Click);
    connect(cmdBrowseFile, &QPushButton::clicked, this, &frmMain::cmdBrowseFile_Click);
    connect(sldAccel, &QSlider::valueChanged, this, &frmMain::sldAccel_Change);
    connect(cmdBrowseDest, &QPushButton::clicked, this, &frmMain::cmdBrowseDest_Click);
    connect(cmdShowFolder, &QPushButton::clicked, this, &frmMain::cmdShowFolder_Click);
}

// ---------------------------------------------------------------- navigation

void frmMain::cmdNext_Click() { GoToPage(static_cast<int16_t>(CurPage + 1)); }
void frmMain::cmdBack_Click() { GoToPage(static_cast<int16_t>(CurPage - 1)); }

void frmMain::GoToPage(int16_t NewPage) {
    if (unloaded_) return;
    if (LeavePage(CurPage)) return;
    CurPage = NewPage;
    if (NewPage < 0) return;
    if (NewPage > kPageCount - 1) {
        cmdCancel_Click();
        return;
    }
    setUpdatesEnabled(false);
    lblScrnTitle->setText(ScreenTitles[NewPage]);
    lblScrnSubTitle->setText(ScreenSubTitles[NewPage]);
    EnterPage(NewPage);
    fraScreen->setCurrentIndex(NewPage);
    if (NewPage < 1) {
        fraScreenHdr->hide();
        cmdBack->setEnabled(false);
    } else {
        fraWatermark->hide();
        fraScreenHdr->show();
        fraScreenHdr->raise();
        cmdBack->setEnabled(true);
    }
    switch (NewPage) {
        case 0:
            cmdBack->setEnabled(false);
            cmdNext->setText(QStringLiteral("&Next >"));
            break;
        case 1:
        case 2:
        case 3:
            cmdBack->setEnabled(true);
            cmdNext->setText(QStringLiteral("&Next >"));
            break;
        case 4:
            cmdBack->setEnabled(true);
            cmdNext->setText(QStringLiteral("&Start"));
            break;
        case 5:
            cmdBack->setEnabled(false);
            cmdNext->setEnabled(false);
            break;
        case 6:
            cmdBack->setEnabled(false);
            cmdNext->setEnabled(false);
            fraScreenHdr->hide();
            fraWatermark->show();
            fraWatermark->raise();
            break;
        default: break;
    }
    // Return presses "Next >" ("Start" on the ready page), "Close" on the
    // finish page; each page opens with the focus where it can be seen.
    cmdNext->setDefault(DefaultButton() == cmdNext);
    cmdCancel->setDefault(DefaultButton() == cmdCancel);
    if (QWidget* first = FirstFocus(NewPage)) first->setFocus(Qt::TabFocusReason);
    setUpdatesEnabled(true);
    if (NewPage == Progress) StartSearch();
}

QWidget* frmMain::FirstFocus(int16_t page) const {
    switch (page) {
        case SearchMode:
            for (QRadioButton* o : {optSearchSystem, optSearchFolder, optSearchFile})
                if (o->isChecked()) return o;
            return optSearchSystem;
        case ResourceTypes: return lvResTypes;
        case Destination: return txtDestPath;
        case Progress:
        case Finish: return cmdCancel;
        default: return cmdNext->isEnabled() ? cmdNext : nullptr;
    }
}

void frmMain::PressDefault() {
    if (auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        focused && focused->window() == this && focused->isEnabled()) {
        focused->click();
        return;
    }
    // By the page, not by isDefault(): a button gives that up with the focus.
    QPushButton* b = DefaultButton();
    if (b->isEnabled() && b->isVisible()) b->click();
}

QPushButton* frmMain::DefaultButton() const { return CurPage == Finish ? cmdCancel : cmdNext; }

bool frmMain::LeavePage(int16_t page) {
    switch (page) {
        case SearchMode:
            SearchSystem = optSearchSystem->isChecked() ? kTrue : kFalse;
            SearchFile = optSearchFile->isChecked() ? kTrue : kFalse;
            FolderPath = S(txtFolder->text());
            SubFolders = chkSubFolders->checkState() != Qt::Unchecked ? kTrue : kFalse;
            FileMask = S(txtMask->text());
            return optSearchFolder->isChecked() ? FolderNotFound(S(txtFolder->text())) : false;
        case ResourceTypes:
            for (int k = 0; k < engine::kResKindCount; ++k)
                Types[k] = lvResTypes->item(k)->checkState() == Qt::Checked ? kTrue : kFalse;
            return NoResTypeChosen();
        case Destination:
            DestPath = S(txtDestPath->text());
            WriteGallery = chkGallery->isChecked() ? kTrue : kFalse;
            return CreateDestFolders(DestPath);
        case Progress:
            StopAnimation(aniAnim);
            DeleteAnimFile();
            return false;
        default: return false;
    }
}

void frmMain::EnterPage(int16_t page) {
    switch (page) {
        case SearchMode:
            if (SearchSystem) {
                optSearchSystem->setChecked(true);
                optSearchSystem_Click();
            } else {
                optSearchFolder->setChecked(true);
                optSearchFolder_Click();
            }
            txtFolder->setText(Q(FolderPath));
            chkSubFolders->setCheckState(SubFolders ? Qt::Checked : Qt::Unchecked);
            txtMask->setText(Q(FileMask));
            {
                // The handler must run even when the position does not change.
                const QSignalBlocker block(sldAccel);
                sldAccel->setValue(Priority);
            }
            sldAccel_Change();
            break;
        case ResourceTypes:
            for (int k = 0; k < engine::kResKindCount; ++k)
                lvResTypes->item(k)->setCheckState(Types[k] ? Qt::Checked : Qt::Unchecked);
            break;
        case Destination:
            txtDestPath->setText(Q(DestPath));
            chkGallery->setChecked(WriteGallery != kFalse);
            break;
        case Progress:
            FillStatsList();
            AnimFile = LoadAnim("FINDFILES");
            PlayAnimation(aniAnim);
            RemoveCloseMenu();
            break;
        case Finish:
            setWindowTitle(QStringLiteral("Loomvale"));
            cmdCancel->setText(QStringLiteral("&Close"));
            if (WriteGallery) WriteGalleryOfRun();
            break;
        default: break;
    }
}

void frmMain::cmdCancel_Click() {
    if (CurPage != Progress) {
        // The button closes the window even after the run took away the close box.
        closeRequested_ = true;
        close();
        return;
    }
    if (MsgBox("Are you sure you want to cancel the search?", MsgButtons::YesNo, MsgIcon::Exclamation) ==
        MsgResult::Yes) {
        cmdCancel->setEnabled(false);
        CancelSearch = kTrue;
        closeRequested_ = true;
        close();
    }
}

// ---------------------------------------------------------------- option pages

void frmMain::optSearchSystem_Click() {
    for (QWidget* w : std::initializer_list<QWidget*>{txtFolder, cmdBrowse, chkSubFolders, txtFile, cmdBrowseFile})
        w->setEnabled(false);
}

void frmMain::optSearchFolder_Click() {
    for (QWidget* w : std::initializer_list<QWidget*>{txtFolder, cmdBrowse, chkSubFolders}) w->setEnabled(true);
    for (QWidget* w : std::initializer_list<QWidget*>{txtFile, cmdBrowseFile}) w->setEnabled(false);
}

void frmMain::optSearchFile_Click() {
    for (QWidget* w : std::initializer_list<QWidget*>{txtFolder, cmdBrowse, chkSubFolders}) w->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{txtFile, cmdBrowseFile}) w->setEnabled(true);
}

void frmMain::cmdAdvanced_Click() {
    cmdAdvanced->hide();
    fraMask->show();
    fraPerformance->show();
}

void frmMain::sldAccel_Change() {
    const int pos = sldAccel->value();
    lblPriority->setText(QString::fromLatin1(kPriorityLabels[pos - 1]));
    Priority = static_cast<int16_t>(pos);
}

void frmMain::cmdBrowse_Click() {
    const std::string path = BrowseForFolder(this, "Choose a folder to start search from.");
    if (!path.empty()) txtFolder->setText(Q(path));
}

void frmMain::cmdBrowseDest_Click() {
    const std::string path = BrowseForFolder(this, "Choose folder to extract files to.");
    if (!path.empty()) txtDestPath->setText(Q(path));
}

void frmMain::cmdBrowseFile_Click() {
    int32_t index = 1;
    const std::string path = ShowFileDialog(this, std::string(), "Program Files (*.exe;*.dll;*.ocx)|*.exe;*.dll;*.ocx",
                                            index, "Load Program File", true);
    if (!path.empty()) txtFile->setText(Q(path));
}

void frmMain::FillResTypes() {
    lvResTypes->clear();
    for (int k = 0; k < engine::kResKindCount; ++k) {
        auto* item = new QListWidgetItem(KindIcon(k), QString::fromLatin1(engine::kKinds[k].label), lvResTypes);
        item->setData(Qt::UserRole, QString::fromLatin1(engine::kKinds[k].key));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

bool frmMain::FolderNotFound(const std::string& path) {
    if (!platform::PathIsDirectoryA(path)) {
        MsgBox("The folder could not be found.\r\nPlease specify a valid folder.", MsgButtons::OK, MsgIcon::Critical);
        txtFolder->setFocus();
        return true;
    }
    return false;
}

bool frmMain::NoResTypeChosen() {
    for (int k = 0; k < engine::kResKindCount; ++k)
        if (Types[k]) return false;
    MsgBox("Please choose at least one resource type.", MsgButtons::OK, MsgIcon::Critical);
    lvResTypes->setFocus();
    return true;
}

bool frmMain::CreateDestFolders(const std::string& dest) {
    const std::string folder = platform::AddBackslash(dest);
    auto invalid = [this] {
        MsgBox("The specified folder is invalid.\r\nPlease type another name.", MsgButtons::OK, MsgIcon::Critical);
        txtDestPath->setFocus();
        return true;
    };
    if (mkdir(folder.c_str(), 0777) != 0) {
        if (errno == EEXIST) {
            if (MsgBox("The specified folder already exists.\r\nDo you want to continue?", MsgButtons::YesNo,
                       MsgIcon::Exclamation) != MsgResult::Yes) {
                txtDestPath->setFocus();
                return true;
            }
        } else if (errno == ENOENT || errno == ENOTDIR) {
            return invalid();
        }
    }
    for (int k = 0; k < engine::kResKindCount; ++k) {
        if (!Types[k]) continue;
        const std::string sub = folder + engine::kKinds[k].folder;
        if (mkdir(sub.c_str(), 0777) == 0) continue;
        // A file where a kind's folder goes could take none of its resources.
        if (errno == ENOENT || errno == ENOTDIR || (errno == EEXIST && !platform::PathIsDirectoryA(sub)))
            return invalid();
    }
    return false;
}

// ---------------------------------------------------------------- the run

void frmMain::FillStatsList() {
    lvResStats->clear();
    for (int k = 0; k < engine::kResKindCount; ++k) {
        if (!Types[k]) continue;
        auto* row = new QTreeWidgetItem(lvResStats);
        row->setIcon(0, KindIcon(k));
        row->setText(0, QString::fromLatin1(engine::kKinds[k].label));
        row->setText(1, QStringLiteral("0"));
        row->setData(0, Qt::UserRole, QString::fromLatin1(engine::kKinds[k].key));
    }
    LayOutPage(Progress);  // the list's width, before the page shows
    AutoSizeColumns(lvResStats);
}

void frmMain::AutoSizeColumns(QTreeWidget* list) {
    // Every column as wide as its widest text, header included; the last one
    // also takes what is left of the list's width.
    const int last = list->columnCount() - 1;
    int used = 0;
    for (int i = 0; i <= last; ++i) {
        list->resizeColumnToContents(i);
        // The viewport follows the list's size only once the list is shown.
        if (i == last)
            list->setColumnWidth(i, std::max(list->columnWidth(i), list->maximumViewportSize().width() - used));
        used += list->columnWidth(i);
    }
}

std::string frmMain::LoadAnim(const char* resId) {
    // Created exclusively under a unique name, so no existing file is touched.
    std::string pattern = platform::AddBackslash(S(QDir::tempPath())) + "ifrXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) return {};
    const std::string path(buf.data());
    const QByteArray clip = AnimationClip(resId);
    const char* p = clip.constData();
    qsizetype left = clip.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    ::close(fd);
    if (ok) OpenAnimation(aniAnim, Q(path));
    return path;
}

void frmMain::DeleteAnimFile() {
    if (!AnimFile.empty()) {
        CloseAnimation(aniAnim);
        ::unlink(AnimFile.c_str());
        AnimFile.clear();
    }
}

void frmMain::RemoveCloseMenu() {
    if (closeRemoved_) return;
    closeRemoved_ = true;
    const Qt::WindowFlags flags =
        (windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint) &
        ~Qt::WindowCloseButtonHint;
    // QWidget::setWindowFlags would unmap a shown window and map it again, so
    // that the window manager may place it anew and the run starts before it
    // is back on screen. The native window takes the new hints in place.
    if (QWindow* native = windowHandle()) {
        overrideWindowFlags(flags);
        native->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void frmMain::SetStatus(const QString& text) {
    lblStatus->setText(ForLabel(text));
    lblStatus->repaint();
}

void frmMain::ShowProgressFrame() { l3dProgressBack->show(); }

void frmMain::PaintBeforeRun() {
    // The window system may not have shown the window yet (a window manager
    // maps it in its own time): wait for it briefly, then paint at once.
    QElapsedTimer waited;
    waited.start();
    QWindow* native = windowHandle();
    while (native && isVisible() && !native->isExposed() && !unloaded_ && waited.elapsed() < kShowWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sinceInput_.start();
    sincePaint_.start();
}

void frmMain::EnterPhase(RunPhase phase) {
    phase_ = phase;
    emit RunPhaseChanged(phase);
}

void frmMain::PaintNow() {
    if (sincePaint_.isValid() && sincePaint_.elapsed() < kPaintEveryMs) return;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sincePaint_.start();
}

void frmMain::TakeInput() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sinceInput_.start();
    sincePaint_.start();
    if (closeAsked_) {
        closeAsked_ = false;
        if (!unloaded_ && CurPage == Progress && cmdCancel->isEnabled()) cmdCancel_Click();
    }
}

void frmMain::CountFolders(engine::VBBool AllDrives, const std::string& BaseDir) {
    cmdCancel->setEnabled(false);
    SetStatus(kWaitLine + QStringLiteral("Initializing..."));
    EnterPhase(RunPhase::Counting);
    TotalDirs = SearchCore->Core().GetDirCount(AllDrives, BaseDir);
    countedDirs_ = true;
    // Clicks and keys that came while Cancel was greyed are delivered while
    // it still is, so that none of them counts once it is enabled.
    if (!unloaded_) QCoreApplication::processEvents(QEventLoop::AllEvents);
    ShowProgressFrame();
}

void frmMain::StartSearch() {
    PaintBeforeRun();
    ApplyPriority();
    countedDirs_ = false;
    if (SearchSystem) {
        CountFolders(kTrue, "/");
        SetStatus(kWaitLine);
        cmdCancel->setEnabled(true);
        StartTicks = static_cast<int32_t>(TickSource()());
        EnterPhase(RunPhase::Walking);
        if (!unloaded_) SearchCore->Core().SearchSystemForFiles(FileMask);
    } else if (SearchFile) {
        cmdCancel->setEnabled(false);
        SetStatus(kWaitLine + QStringLiteral("Initializing..."));
        ShowProgressFrame();
        cmdCancel->setEnabled(true);
        std::string file = S(txtFile->text());
        EnterPhase(RunPhase::Scanning);
        Scan(file);
        EnterPhase(RunPhase::Over);
        if (!unloaded_) cmdNext_Click();
    } else {
        if (SubFolders) {
            CountFolders(kFalse, FolderPath);
            cmdCancel->setEnabled(true);
        }
        SetStatus(kWaitLine);
        StartTicks = static_cast<int32_t>(TickSource()());
        EnterPhase(RunPhase::Walking);
        engine::VBBool recurse = SubFolders;
        if (!unloaded_) SearchCore->Core().SearchForFiles(FolderPath, recurse, FileMask);
    }
}

void frmMain::Scan(std::string& path) { engine::ExtractResources(path, Types, this, DestPath); }

void frmMain::SearchCore_FileFound(std::string& FileName, int32_t& FileCount, int32_t& DirCount,
                                   engine::VBBool& Cancel) {
    // Once the window has unloaded the program is over: nothing more is scanned.
    if (unloaded_) {
        Cancel = kTrue;
        return;
    }
    if (CancelSearch) Cancel = kTrue;
    if (countedDirs_) UpdateProgress(DirCount);
    Scan(FileName);
    // Between two files a click may be taken: after every tenth file, and
    // whenever the last chance is longer ago than the walk may go without one.
    if (FileCount % 10 == 0 || sinceInput_.elapsed() >= kInputEveryMs)
        TakeInput();
    else
        PaintNow();
    if (CancelSearch || unloaded_) Cancel = kTrue;
}

void frmMain::SearchCore_Idle(engine::VBBool& Cancel) {
    if (unloaded_) {
        Cancel = kTrue;
        return;
    }
    // While folders are counted Cancel is disabled: paint and timers only.
    if (phase_ == RunPhase::Walking && sinceInput_.elapsed() >= kInputEveryMs)
        TakeInput();
    else
        PaintNow();
    if (CancelSearch || unloaded_) Cancel = kTrue;
}

void frmMain::SearchCore_SearchFinished() {
    EnterPhase(RunPhase::Over);
    if (!unloaded_) cmdNext_Click();
}

void frmMain::ResFound(int32_t& ResType, engine::ResName&) {
    if (ResType < 0 || ResType >= engine::kResKindCount) return;
    const QString key = QString::fromLatin1(engine::kKinds[ResType].key);
    for (int i = 0; i < lvResStats->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = lvResStats->topLevelItem(i);
        if (row->data(0, Qt::UserRole).toString() == key) {
            row->setText(1, QString::number(row->text(1).toLongLong() + 1));
            return;
        }
    }
}

void frmMain::Idle(engine::VBBool& Cancel) {
    // Inside one file: never user input, as a resource may be half done.
    if (!unloaded_) PaintNow();
    if (unloaded_) Cancel = kTrue;
}

void frmMain::UpdateProgress(int32_t DirCount) {
    int value = 0;
    if (!ProgressValue(DirCount, TotalDirs, value)) return;
    if (value == prbProgress->value() || value > 50) return;
    prbProgress->setValue(value);
    setWindowTitle(QStringLiteral("Loomvale - %1% completed").arg(value * 2));
    const int32_t elapsed = static_cast<int32_t>(TickSource()() - static_cast<uint32_t>(StartTicks));
    int32_t estimate = 0;
    if (!RemainingEstimate(TotalDirs, DirCount, elapsed, estimate)) return;
    SetStatus(kWaitLine + QStringLiteral("Remaining time: ") + Q(RemainingText(estimate)));
}

bool frmMain::IsWin2000OrLater() {
    platform::OSVERSIONINFOA info;
    if (!platform::GetVersionExA(info)) return false;
    return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion > 0) ||
           (info.dwMajorVersion == 5 && info.dwMinorVersion == 0 && info.dwBuildNumber >= 2195);
}

uint32_t frmMain::PriorityClassFromSetting() const {
    static constexpr uint32_t kClasses[] = {platform::IDLE_PRIORITY_CLASS, platform::BELOW_NORMAL_PRIORITY_CLASS,
                                            platform::NORMAL_PRIORITY_CLASS, platform::ABOVE_NORMAL_PRIORITY_CLASS,
                                            platform::HIGH_PRIORITY_CLASS};
    // A stored position outside the slider's range counts as the nearest end.
    const int pos = Priority < 1 ? 1 : (Priority > 5 ? 5 : Priority);
    uint32_t cls = kClasses[pos - 1];
    if (!IsWin2000OrLater() && (cls == 0x4000 || cls == 0x8000)) cls /= 256;
    return cls;
}

void frmMain::ApplyPriority() {
    const uint32_t cls = PriorityClassFromSetting();
    const platform::ProcessHandle h = platform::OpenProcess(
        platform::PROCESS_QUERY_INFORMATION | platform::PROCESS_SET_INFORMATION | platform::PROCESS_VM_READ, false,
        platform::GetCurrentProcessId());
    if (h) {
        platform::SetPriorityClass(h, cls);
        platform::CloseHandle(h);
    }
}

void frmMain::cmdShowFolder_Click() {
    // The gallery page of this run where there is one, else the folder. As
    // an absolute path: a relative one would be taken from wherever the
    // file manager happens to start.
    const bool page = !GalleryPath.empty() && QFileInfo(Q(GalleryPath)).isFile();
    const QString target = QFileInfo(Q(page ? GalleryPath : DestPath)).absoluteFilePath();
    if (OpenFolderService() && OpenFolderService()(target)) return;
    MsgBox(std::string(page ? "The gallery page" : "The folder") + " could not be opened:\r\n" +
               S(QDir::toNativeSeparators(target)),
           MsgButtons::OK, MsgIcon::Critical);
}

void frmMain::WriteGalleryOfRun() {
    engine::GalleryPage page;
    const platform::FileError e = engine::WriteGalleryPage(DestPath, page);
    GalleryPath = page.path;
    if (e.number)
        MsgBox("The gallery page could not be written in\r\n" + DestPath + "\r\n" + e.description, MsgButtons::OK,
               MsgIcon::Exclamation);
}

void frmMain::EndSession() {
    // The same way out as the close box: settings saved, the program ends;
    // but nothing may wait for a click.
    endingSession_ = true;
    closeRequested_ = true;
    close();
    Form_Unload();
}

}  // namespace wizard
