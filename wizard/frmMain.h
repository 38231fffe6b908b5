// The program's one window: a wizard of seven pages (welcome, search mode,
// resource types, destination, ready, search in progress, finish) that
// collects the options of a search, runs it and opens the result.
#pragma once

#include "engine/ResTypes.h"
#include "wizard/layout/frmMainUi.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QCloseEvent;

namespace wizard {

class SearchEvents;

// The controls come from the layout units (layout::frmMainUi); this class is
// the window's behaviour: navigation, option pages, the run.
class frmMain : public QWidget, public engine::IResOwner, private layout::frmMainUi {
    Q_OBJECT

public:
    static constexpr int16_t kPageCount = layout::kPageCount;
    enum Page : int16_t { Welcome, SearchMode, ResourceTypes, Destination, Ready, Progress, Finish };
    // What the run is doing; RunPhaseChanged tells observers when it changes.
    enum class RunPhase { Idle, Counting, Walking, Scanning, Over };

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // How the program ends once the window has unloaded; tests replace it.
    static void SetProgramEndHook(std::function<void()> hook);
    // Opens a folder in the desktop's file manager (a page in the browser),
    // false when it cannot; tests replace it.
    static void SetOpenFolderService(std::function<bool(const QString&)> service);
    // Millisecond tick count used for the remaining-time estimate; tests replace it.
    static void SetTickSource(std::function<uint32_t()> ticks);

    // Options, filled by the option pages and the settings.
    engine::VBBool SearchSystem = engine::kTrue;
    engine::VBBool SearchFile = engine::kFalse;
    std::string FolderPath;
    engine::VBBool SubFolders = engine::kTrue;
    std::string FileMask;
    engine::ResTypes Types;
    std::string DestPath;
    int16_t Priority = 3;
    engine::VBBool WriteGallery = engine::kFalse;  // a gallery page at the end of the run

    // The gallery page this run wrote; "Show Resources" opens it.
    std::string GalleryPath;

    // The run's own state.
    std::string AnimFile;
    engine::VBBool CancelSearch = engine::kFalse;
    int32_t TotalDirs = 0;
    int32_t StartTicks = 0;

    int16_t CurPage = 0;
    std::array<QString, kPageCount> ScreenTitles;
    std::array<QString, kPageCount> ScreenSubTitles;

    // Navigation.
    void GoToPage(int16_t NewPage);
    bool LeavePage(int16_t page);
    void EnterPage(int16_t page);
    // Where the focus goes when the page opens.
    QWidget* FirstFocus(int16_t page) const;
    // Return: the focused button, else the default one.
    void PressDefault();
    // "Close" on the finish page, "Next >" (or "Start") elsewhere.
    QPushButton* DefaultButton() const;

    // Checks: true keeps the wizard on the page, after telling the user.
    bool FolderNotFound(const std::string& path);
    bool NoResTypeChosen();
    bool CreateDestFolders(const std::string& dest);

    // Engine owner: one more resource of the kind ResType was written.
    void ResFound(int32_t& ResType, engine::ResName& ResName) override;
    // Engine owner: a moment between two resources to paint in.
    void Idle(engine::VBBool& Cancel) override;

    // Search events.
    void SearchCore_FileFound(std::string& FileName, int32_t& FileCount, int32_t& DirCount, engine::VBBool& Cancel);
    void SearchCore_SearchFinished();
    // The walk or the count is running: paint, and now and then take input.
    void SearchCore_Idle(engine::VBBool& Cancel);

    // The progress display for DirCount folders met out of TotalDirs.
    void UpdateProgress(int32_t DirCount);
    void ApplyPriority();
    uint32_t PriorityClassFromSetting() const;
    static bool IsWin2000OrLater();

    bool Unloaded() const { return unloaded_; }
    bool CloseMenuRemoved() const { return closeRemoved_; }
    RunPhase Phase() const { return phase_; }

signals:
    void RunPhaseChanged(wizard::frmMain::RunPhase phase);

public slots:
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdCancel_Click();
    void cmdAdvanced_Click();
    void cmdShowFolder_Click();
    void cmdBrowse_Click();
    void cmdBrowseFile_Click();
    void cmdBrowseDest_Click();
    void optSearchSystem_Click();
    void optSearchFolder_Click();
    void optSearchFile_Click();
    void sldAccel_Change();
    // The session ends or the program is asked to stop (SIGTERM, SIGHUP):
    // unloads as a close does.
    void EndSession();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Initialize();
    void Form_Load();
    void Form_Unload();
    void InitScreenTitles();
    void WriteGalleryOfRun();
    void FillResTypes();
    void FillStatsList();
    void AutoSizeColumns(QTreeWidget* list);
    std::string LoadAnim(const char* resId);
    void DeleteAnimFile();
    void RemoveCloseMenu();
    void StartSearch();
    void SetStatus(const QString& text);
    void ShowProgressFrame();
    void Scan(std::string& path);
    void PaintBeforeRun();
    void CountFolders(engine::VBBool AllDrives, const std::string& BaseDir);
    void EnterPhase(RunPhase phase);
    void PaintNow();
    void TakeInput();

    void ConnectHandlers();

    std::unique_ptr<SearchEvents> SearchCore;
    bool countedDirs_ = false;
    bool closeRemoved_ = false;
    bool closeRequested_ = false;
    bool endingSession_ = false;
    bool closeAsked_ = false;  // the desktop's close came during the run: asked at the next input  // a signal or the session's end: no box may wait for a click
    bool unloaded_ = false;
    RunPhase phase_ = RunPhase::Idle;
    QElapsedTimer sinceInput_;  // since user input was last taken during the run
    QElapsedTimer sincePaint_;  // since paint and timer events were last handled
};

}  // namespace wizard
