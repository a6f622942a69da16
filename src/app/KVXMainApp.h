// The main window's behaviour: start-up, exit and the commands of the menus
// and tool bar.
#pragma once

#include "MainWin.h"
#include "RunControl.h"
#include "Startup.h"

#include <QString>
#include <array>
#include <memory>

class QLabel;
class QPrinter;
class Run;
class RunContext;
class ResultsTable;
class TestConfig;
class TestPreference;
class Window_ClosingTests;
class Window_EditMachineID;
class Window_ResultBanner;
class Window_StopButton;
class Window_About;
class Window_SaveTestLog;
class Window_ViewEventLog;
class WindowTiler;

class KVXMainApp : public MainWin {
    Q_OBJECT
public:
    // Runs the whole start-up: command line, debug trace, environment and
    // window set-up. `programDir` defaults to the executable's directory.
    KVXMainApp(int argc, char** argv, const QString& programDir = QString(), QWidget* parent = nullptr);
    ~KVXMainApp() override;

    // The directory of the shipped files (classification, user guide).
    QString programDirectory() const { return m_programDir; }
    // The directory of the files this user's settings and results go to:
    // the program directory unless that is shared (DataDirectoryFor).
    QString dataDirectory() const { return m_dataDir; }

    // Refreshes the labels and the results table.
    void UpdateMainWindow();

    // The load and save configuration commands past their file dialogs.
    bool loadConfigFrom(const QString& path);
    bool saveConfigTo(const QString& path);

    // True when `slot` takes part in a run.
    bool performTest(int slot) const;

    // Launches the run after the Start command's checks.
    void startTest();
    // Ends the run; `automatic` for the completion and error stops.
    void stopTest(bool automatic);
    // One tick of the 3-second check: errors, completion, stop on error.
    void checkRun();
    // True while a run is active.
    bool runActive() const;
    // The program's run: the live status the windows show and the test
    // threads' states. Never freed: an abandoned thread may still use it.
    const Run& run() const { return *m_run; }
    // What the engines and the health monitor are given; tests point their
    // settings at fixtures through it.
    RunContext& context() const { return *m_context; }

public Q_SLOTS:
    void slotFileExit();
    void slotConfigurationLoadConfig();
    void slotConfigurationSaveConfig();
    void slotStartTest();
    void slotStopTest();
    void slotEditMachineID();
    void slotEditClearAllResults();
    void slotEditCopyResultsToClipboard();
    void slotFilePrint();
    void slotViewErrorByCategory();
    void slotHelpUserGuide();
    void slotHelpVeltraneHomepage();
    void slotViewEventLog();
    void slotFileSaveTestLog();
    void slotHelpAbout();
    // The test selection and preferences dialogs, loaded from testconfig.
    void slotConfigurationTestDutyCycles();
    void slotConfigurationTestPreferences();

protected:
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    class RunHooks;
    void setUpWindow();
    // The health settings file into the context; its problems into the
    // event log and the debug trace.
    void loadHealthSettings();
    // Enables or disables the commands that must not run during a run.
    void setRunActionsEnabled(bool enabled);
    void killRunTimers();
    // Closes the window if that was asked during a start or a stop.
    void closeIfAsked();
    // Creates the two settings dialogs and connects their commands.
    void setUpSettingsDialogs();
    // Cancels open settings dialogs: a run's configuration must not change.
    void closeSettingsDialogs();

    QString m_programDir;
    QString m_dataDir;
    StartupOptions m_options;
    Redirection m_redirect;
    std::unique_ptr<QPrinter> m_printer;
    // Windows created once at start-up and kept until exit.
    Window_EditMachineID* m_machineIdWindow = nullptr;
    TestConfig* testConfigWin = nullptr;
    TestPreference* testPreferenceWin = nullptr;

    int updateTimer = 0;
    int checkTimer = 0;
    int stopEnableTimer = 0;
    int autostartTimer = 0;
    int totalErrors = 0;
    int lastBeepErrors = 0;
    int numTestsConfigured = 0;
    bool m_stopping = false;
    bool m_starting = false;
    // The window was closed during a start or a stop: close when it ends.
    bool m_closeAsked = false;

    // The run's state and what the engines are given. Never freed: a thread
    // abandoned at a stop may still write into them while the process ends.
    Run* m_run = nullptr;
    RunContext* m_context = nullptr;
    std::unique_ptr<RunHooks> m_runHooks;
    std::unique_ptr<ResultsTable> m_resultsTable;
    std::unique_ptr<WindowTiler> m_tiler;
    Window_ClosingTests* m_closingWindow = nullptr;
    Window_ResultBanner* win_ResultBanner = nullptr;
    Window_StopButton* win_StopButton = nullptr;
    Window_ViewEventLog* win_viewEventLog = nullptr;
    Window_SaveTestLog* win_SaveTestLog = nullptr;
    Window_About* win_About = nullptr;
    // The status bar's health line.
    QLabel* m_healthLabel = nullptr;
    // The live window of each running slot, or null.
    std::array<QWidget*, 164> testWindow {};
};

// The one main window.
extern KVXMainApp* mainWin;
// The available desktop area less 11 pixels each way; windows are placed in it.
extern int gScreenWidth;
extern int gScreenHeight;
