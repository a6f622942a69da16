// Run control of the main window: Start with its warning, the three run
// timers, Stop with its progress window, and Clear results.
#include "KVXMainApp.h"
#include "RunHooks.h"

#include "AtomicField.h"
#include "DebugTrace.h"
#include "HealthSettings.h"
#include "LiveTestWindow.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "ResultsTable.h"
#include "Run.h"
#include "RunContext.h"
#include "TestSlots.h"
#include "Window_ClosingTests.h"
#include "Window_ResultBanner.h"
#include "Window_StopButton.h"
#include "WindowTiler.h"
#include "ui_MainWin.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QScreen>
#include <QTimerEvent>

#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int kCheckIntervalMs = 3000;
constexpr int kStopEnableIntervalMs = 1000;
constexpr int kStopEnableDelaySec = 3;

} // namespace

bool KVXMainApp::runActive() const
{
    return m_run->stopAllTests == 0;
}

void KVXMainApp::setRunActionsEnabled(bool enabled)
{
    for (QAction* a : { ui->fileSaveTestLogAction, ui->fileExitAction, ui->filePrintAction,
             ui->editCopyResultsToClipboardAction, ui->editClearAllResultsAction, ui->editMachineIDNotesAction,
             ui->configurationTestDutyCyclesAction, ui->configurationTestPreferencesAction,
             ui->configurationLoadConfigAction, ui->configurationSaveConfigAction, ui->testStartTestRunAction,
             ui->helpUserGuideAction, ui->helpVeltraneHomepageAction, ui->helpAboutAction })
        a->setEnabled(enabled);
}

void KVXMainApp::slotStartTest()
{
    if (runActive() || m_starting)
        return;
    DPrintf("###################### START_TEST_DEBUG_BEGINS ######################\n");
    totalErrors = 0;
    lastBeepErrors = 0;
    if (relaxedLoad(testconfig.pretest_action) == 1 && !autorun_flag) {
        if (ShowBox(BoxIcon::Information, "Getting ready to run Kalvex tests", PreRunWarningText(*m_context),
                { "OK", "Cancel" }, 0, 1)
            != 0)
            return;
        UpdateMainWindow();
        QApplication::processEvents();
    }
    ui->stopTimeLabel->setText(tr("running..."));
    // Off before the launch: it handles window events between the threads,
    // and Preferences, Load Config or Exit must not run in the middle.
    setRunActionsEnabled(false);
    ui->testStopTestRunAction->setEnabled(false);
    m_starting = true;
    startTest();
    m_starting = false;
    closeIfAsked();
}

void KVXMainApp::closeIfAsked()
{
    if (m_closeAsked) {
        m_closeAsked = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void KVXMainApp::startTest()
{
    closeSettingsDialogs();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        m_tiler = std::make_unique<WindowTiler>(screen->availableGeometry().top(), gScreenWidth, gScreenHeight);
    else
        m_tiler = std::make_unique<WindowTiler>(0, 1024, 768);
    m_resultsTable->clear();
    // The monitor samples at the refresh rate, which the test selection
    // dialog may have changed.
    HealthSettings health = m_context->settings<HealthSettings>();
    health.intervalMs = gUpdateWindowInterval;
    m_context->setSettings(health);
    numTestsConfigured = StartRun(*m_context, *m_runHooks);
    // StartRun counts the selected tests; a watched run adds the health row.
    m_resultsTable->setRunRows(numTestsConfigured + (m_run->health.monitored() ? 1 : 0));
    UpdateMainWindow();
    updateTimer = startTimer(gUpdateWindowInterval);
    checkTimer = startTimer(kCheckIntervalMs);
    stopEnableTimer = startTimer(kStopEnableIntervalMs);
}

void KVXMainApp::killRunTimers()
{
    for (int* id : { &updateTimer, &checkTimer, &stopEnableTimer }) {
        if (*id)
            killTimer(*id);
        *id = 0;
    }
}

void KVXMainApp::slotStopTest()
{
    if (!runActive() || m_stopping)
        return;
    stopTest(false);
    setRunActionsEnabled(true);
    ui->testStopTestRunAction->setEnabled(false);
}

void KVXMainApp::stopTest(bool automatic)
{
    m_stopping = true;
    m_closingWindow = new Window_ClosingTests(this);
    killRunTimers();
    win_StopButton->hide();
    m_closingWindow->show();
    StopRun(*m_context, *m_runHooks, automatic, numTestsConfigured);
    m_closingWindow->hide();
    // With no test selected no slot set the stop time; the label must not
    // keep saying "running...".
    if (relaxedLoad(resultfile.run_stop_time) == 0)
        ui->stopTimeLabel->setText(ctimeLabel(std::time(nullptr)));

    const long e = static_cast<long>(relaxedLoad(resultfile.run_stop_time))
        - static_cast<long>(relaxedLoad(resultfile.run_start_time));
    ShowElapsed(ui->lcdElapsed, relaxedLoad(resultfile.run_start_time) ? e : 0);
    UpdateMainWindow();
    DPrintf("###################### STOP_TEST_DEBUG_FINISHES ######################\n");
    // Counted again: errors raised since the last check, and while the stop
    // waited, are in the summary and must be in the verdict too.
    totalErrors = TotalErrors(*m_context);
    if (automatic)
        win_ResultBanner->showResult(totalErrors);
    delete m_closingWindow;
    m_closingWindow = nullptr;
    m_stopping = false;
    closeIfAsked();
}

void KVXMainApp::checkRun()
{
    totalErrors = TotalErrors(*m_context);
    if (KVXComplete(*m_context) && !m_stopping) {
        stopTest(true);
        setRunActionsEnabled(true);
        ui->testStopTestRunAction->setEnabled(false);
        return;
    }
    if (totalErrors <= 0)
        return;
    switch (relaxedLoad(testconfig.action_on_error)) {
    case 1:
        if (totalErrors != lastBeepErrors) {
            lastBeepErrors = totalErrors;
            QApplication::beep();
        }
        break;
    case 2:
        win_StopButton->hide();
        ui->testStopTestRunAction->setEnabled(false);
        QApplication::beep();
        stopTest(true);
        setRunActionsEnabled(true);
        ui->testStopTestRunAction->setEnabled(false);
        break;
    default:
        break;
    }
}

void KVXMainApp::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    const std::time_t now = std::time(nullptr);
    if (id == checkTimer && checkTimer) {
        checkRun();
    } else if (id == updateTimer && updateTimer) {
        UpdateMainWindow();
        UpdateAllChildWindows(testWindow);
        if (std::getenv("_TIME_STAMP_")) {
            DPrintf("Main thread: Time = *%s*, PID = %d, PPID = %d\n", ctimeLabel(now).toLocal8Bit().constData(),
                static_cast<int>(::getpid()), static_cast<int>(::getppid()));
        }
    } else if (id == stopEnableTimer && stopEnableTimer) {
        if (now - relaxedLoad(resultfile.run_start_time) < kStopEnableDelaySec)
            return;
        ui->testStopTestRunAction->setEnabled(true);
        win_StopButton->show();
        killTimer(stopEnableTimer);
        stopEnableTimer = 0;
    } else if (id == autostartTimer && autostartTimer) {
        killTimer(autostartTimer);
        autostartTimer = 0;
        slotStartTest();
    } else {
        MainWin::timerEvent(event);
    }
}

void KVXMainApp::slotEditClearAllResults()
{
    if (ShowBox(BoxIcon::Warning, "Clear results - Confirm?",
            "Are you sure you wish to clear\nall current and accumulated results", { "OK", "Cancel" }, 0, 1)
        == 0)
        ClearAllResults(*m_context);
    UpdateMainWindow();
}
