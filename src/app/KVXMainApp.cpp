#include "KVXMainApp.h"

#include "Run.h"
#include "RunContext.h"
#include "RunHooks.h"

#include "BuildInfo.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "DebugTrace.h"
#include "GraphicsTests.h"
#include "HealthSettings.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "StartupReport.h"
#include "SystemInfo.h"
#include "TestSlots.h"
#include "AtomicField.h"
#include "Help.h"
#include "ResultsPage.h"
#include "ResultsTable.h"
#include "TestConfig.h"
#include "TestPreference.h"
#include "Window_EditMachineID.h"
#include "Window_ResultBanner.h"
#include "Window_StopButton.h"
#include "Window_About.h"
#include "Window_SaveTestLog.h"
#include "Window_ViewEventLog.h"
#include "WindowTiler.h"
#include "ui_MainWin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPrinter>
#include <QScreen>
#include <QThread>
#include <QTimerEvent>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

KVXMainApp* mainWin = nullptr;

int gScreenWidth = 0;
int gScreenHeight = 0;

KVXMainApp::KVXMainApp(int argc, char** argv, const QString& programDir, QWidget* parent)
    : MainWin(parent)
    , m_programDir(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir)
    , m_printer(std::make_unique<QPrinter>())
{
    const std::string dir = QDir::cleanPath(m_programDir).toStdString();

    ParseCommandLine(argc, argv, m_options, stdout);
    if (m_options.versionRequested || m_options.helpRequested)
        std::exit(0);
    gFollowConfigLogPath = m_options.followConfigLogPath;
    const std::string dataDir = DataDirectoryFor(dir);
    m_dataDir = QString::fromStdString(dataDir);
    const std::string debugPath = dataDir + "/" + m_options.debugFileName;

    std::printf("\"%s\" will be created at\n\"%s\",\nplease send log to %s\nif you encounter problems during "
                "start-up.\n",
        m_options.debugFileName.c_str(), dataDir.c_str(), kSupportEmail);
    std::fflush(stdout);

    if (!CheckPathLengths(dataDir, debugPath))
        std::exit(1);
    CheckStartupPermissions(dataDir, debugPath);
    OpenDebugFile(debugPath);
    m_redirect = RedirectStandardStreams(m_options, debugPath);
    TraceNonOptionsAndVersion(m_options);
    PrintStartUpDebugInfo();

    setWindowTitle(QString::fromStdString(WindowCaption()));

    totalErrors = 0;
    lastBeepErrors = 0;
    InitEnv_Main(m_options.autorun, m_options.configName, gFollowConfigLogPath, dir, dataDir);
    m_run = new Run;
    m_context = new RunContext(testconfig, resultfile, gLogger, *m_run, dirname);
    // The graphics tests need Qt, so core's engine list leaves them to us.
    RegisterGraphicsTests(*m_context);
    loadHealthSettings();
    // The log's summaries show this run's health findings.
    if (gLogger)
        gLogger->SetReportContext(m_context);

    DPrintf("KVXMainApp constructor...\n");

    setUpWindow();

    gUpdateWindowInterval = 3000;
    UpdateMainWindow();

    if (autorun_flag)
        autostartTimer = startTimer(m_options.autostartMs);
}

KVXMainApp::~KVXMainApp()
{
    DPrintf("KVXMainApp destructor...\n");
    delete m_machineIdWindow;
    m_machineIdWindow = nullptr;
    delete testPreferenceWin;
    testPreferenceWin = nullptr;
    delete testConfigWin;
    testConfigWin = nullptr;
    delete win_ResultBanner;
    win_ResultBanner = nullptr;
    delete win_StopButton;
    win_StopButton = nullptr;
    delete win_viewEventLog;
    win_viewEventLog = nullptr;
    delete win_SaveTestLog;
    win_SaveTestLog = nullptr;
    delete win_About;
    win_About = nullptr;
    ExitEnv_Main();
    CloseRedirection(m_redirect);
    if (g_fh_debug) {
        std::fclose(g_fh_debug);
        g_fh_debug = nullptr;
    }
}

void KVXMainApp::loadHealthSettings()
{
    std::vector<std::string> problems;
    m_context->setSettings(LoadHealthSettings(std::string(dirname) + "/" + kHealthSettingsFile, problems));
    for (const std::string& problem : problems) {
        DPrintf("Hardware health settings: %s\n", problem.c_str());
        if (gLogger)
            gLogger->AddLine(problem.c_str(), -1, 0, "Hardware health", 1);
    }
}

void KVXMainApp::setUpWindow()
{
    connect(ui->fileExitAction, &QAction::triggered, this, &KVXMainApp::slotFileExit);
    connect(ui->configurationLoadConfigAction, &QAction::triggered, this, &KVXMainApp::slotConfigurationLoadConfig);
    connect(ui->configurationSaveConfigAction, &QAction::triggered, this, &KVXMainApp::slotConfigurationSaveConfig);
    connect(ui->testStartTestRunAction, &QAction::triggered, this, &KVXMainApp::slotStartTest);
    connect(ui->testStopTestRunAction, &QAction::triggered, this, &KVXMainApp::slotStopTest);
    connect(ui->editClearAllResultsAction, &QAction::triggered, this, &KVXMainApp::slotEditClearAllResults);
    connect(
        ui->editCopyResultsToClipboardAction, &QAction::triggered, this, &KVXMainApp::slotEditCopyResultsToClipboard);
    connect(ui->filePrintAction, &QAction::triggered, this, &KVXMainApp::slotFilePrint);
    connect(ui->viewErrorByCategoryAction, &QAction::triggered, this, &KVXMainApp::slotViewErrorByCategory);
    connect(ui->helpUserGuideAction, &QAction::triggered, this, &KVXMainApp::slotHelpUserGuide);
    connect(ui->helpVeltraneHomepageAction, &QAction::triggered, this, &KVXMainApp::slotHelpVeltraneHomepage);
    connect(ui->editMachineIDNotesAction, &QAction::triggered, this, &KVXMainApp::slotEditMachineID);
    connect(ui->viewEventLogAction, &QAction::triggered, this, &KVXMainApp::slotViewEventLog);
    connect(ui->fileSaveTestLogAction, &QAction::triggered, this, &KVXMainApp::slotFileSaveTestLog);
    connect(ui->helpAboutAction, &QAction::triggered, this, &KVXMainApp::slotHelpAbout);

    updateTimer = checkTimer = stopEnableTimer = autostartTimer = 0;

    const _CPUINFO& cpu = resultfile.cpu_info;
    auto field = [](const char* text, std::size_t size) {
        return QString::fromLocal8Bit(text, static_cast<qsizetype>(strnlen(text, size)));
    };
    ui->cpuTypeLabel->setText(field(cpu.model_name, sizeof cpu.model_name));
    ui->cpuSpeedLabel->setText(field(cpu.cpu0_speed_text, sizeof cpu.cpu0_speed_text));
    ui->cpuManufacturerLabel->setText(field(cpu.vendor_id, sizeof cpu.vendor_id));
    ui->textLabelHostname->setText(QString::fromLocal8Bit(SystemInfo_uname("-n")));
    ui->textLabel_Label_IPAddress->hide();
    ui->textLabelIPAddress->hide();
    ui->lcdElapsed->display(QStringLiteral("00:00:00"));
    m_healthLabel = new QLabel(ui->statusBar);
    m_healthLabel->setObjectName(QStringLiteral("healthStatusLabel"));
    ui->statusBar->addPermanentWidget(m_healthLabel, 1);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        gScreenWidth = area.width() - 11;
        gScreenHeight = area.height() - 11;
        move(gScreenWidth - frameGeometry().width() - 5, area.top());
    }

    m_runHooks = std::make_unique<RunHooks>(*this);
    m_resultsTable = std::make_unique<ResultsTable>(*m_context, ui->testTable);
    m_machineIdWindow = new Window_EditMachineID(m_dataDir, this);
    win_ResultBanner = new Window_ResultBanner(this);
    win_StopButton = new Window_StopButton(this);
    win_StopButton->setWindowTitle(tr("Stop tests"));
    win_viewEventLog = new Window_ViewEventLog(this);
    win_SaveTestLog = new Window_SaveTestLog(this);
    win_About = new Window_About(this);
    connect(win_StopButton, &Window_StopButton::stopTest, this, &KVXMainApp::slotStopTest);
    connect(m_machineIdWindow, &Window_EditMachineID::machineIdChanged, this, &KVXMainApp::UpdateMainWindow);
    setUpSettingsDialogs();

    ui->testStopTestRunAction->setEnabled(false);
    ui->testExecuteScriptAction->setVisible(false);
}

void KVXMainApp::UpdateMainWindow()
{
    ui->textLabel_ConfigFile->setText(QString::fromLocal8Bit(configfilename));

    QString header
        = QString::fromStdString(Format("%s %s (%s) %s - Result sheet", kProduct, kVersion, kBuildNumber, kPlatform));
    if (resultfile.machine_type[0])
        header += QStringLiteral(" - ") + QString::fromLocal8Bit(resultfile.machine_type);
    if (resultfile.machine_serial[0])
        header += QStringLiteral(" - ") + QString::fromLocal8Bit(resultfile.machine_serial);
    ui->textLabel_Header->setText(header);

    QString footer = QStringLiteral("Notes:");
    if (resultfile.notes[0])
        footer += QStringLiteral(" ") + QString::fromLocal8Bit(resultfile.notes);
    ui->textLabel_Footer->setText(footer);

    // After the stop too: the last run's peak stays in view.
    m_healthLabel->setText(QString::fromStdString(HealthStatusText(m_run->health.report())));

    const bool byCategory = relaxedLoad(testconfig.view_errors_by_category) != 0;
    if (runActive()) {
        const std::time_t start = relaxedLoad(resultfile.run_start_time);
        ShowElapsed(ui->lcdElapsed, start ? static_cast<long>(std::time(nullptr) - start) : 0);
        m_resultsTable->updateInPlace(byCategory);
    } else {
        m_resultsTable->rebuild(byCategory);
        ui->viewErrorByCategoryAction->setChecked(byCategory);
    }
}

bool KVXMainApp::performTest(int slot) const
{
    return ::performTest(testconfig, slot);
}

void KVXMainApp::slotEditMachineID()
{
    m_machineIdWindow->LoadPref();
    m_machineIdWindow->show();
    m_machineIdWindow->raise();
}

void KVXMainApp::slotEditCopyResultsToClipboard()
{
    CopyResultsToClipboard();
}

void KVXMainApp::slotFilePrint()
{
    PrintResults(this);
}

void KVXMainApp::slotViewErrorByCategory()
{
    // Saved with the configuration, not at once.
    const std::uint8_t byCategory = relaxedLoad(testconfig.view_errors_by_category) ? 0 : 1;
    relaxedStore(testconfig.view_errors_by_category, byCategory);
    m_resultsTable->setColumns(byCategory != 0);
    ui->viewErrorByCategoryAction->setChecked(byCategory != 0);
    UpdateMainWindow();
}

void KVXMainApp::slotHelpUserGuide()
{
    OpenUserGuide(m_programDir);
}

void KVXMainApp::slotHelpVeltraneHomepage()
{
    goToURL(QString::fromLatin1(kHomePage));
}

void KVXMainApp::slotFileExit()
{
    close();
}

void KVXMainApp::closeEvent(QCloseEvent* event)
{
    // Closing in the middle of a start or a stop would run the other inside
    // it: close once it is done.
    if (m_starting || m_stopping) {
        m_closeAsked = true;
        event->ignore();
        return;
    }
    if (runActive()) {
        // A run still going is stopped as if the user had pressed Stop.
        stopTest(false);
        setRunActionsEnabled(true);
        ui->testStopTestRunAction->setEnabled(false);
    }
    QThread::msleep(1000);
    event->accept();
    DPrintf("###################### DEBUG_LOG_END ######################\n");
}

bool KVXMainApp::saveConfigTo(const QString& path)
{
    // The name written is not the one typed ("lab" becomes "lab.cfg"): ask
    // about the file that would be replaced.
    const ConfigSaveTarget target = ConfigSaveTargetFor(path.toStdString());
    const QString written = path.left(path.lastIndexOf(QLatin1Char('/')) + 1) + QString::fromStdString(target.name);
    if (QFileInfo::exists(written)) {
        const std::string text = "File " + QDir::toNativeSeparators(written).toStdString()
            + " already exists.\nDo you want to overwrite it?";
        if (ShowBox(BoxIcon::Warning, "Save configuration", text, { "&Yes", "&No" }, 0, 1) != 0)
            return false;
    }
    const int rc = ConfigFileSave(target.name.c_str(), target.directory.c_str(), &testconfig);
    UpdateMainWindow();
    return rc == 0;
}

bool KVXMainApp::loadConfigFrom(const QString& path)
{
    const std::string p = path.toStdString();
    if (ConfigFileLoad(p.c_str(), "", &testconfig) == 0) {
        const std::string base = p.substr(p.rfind('/') == std::string::npos ? 0 : p.rfind('/') + 1);
        std::snprintf(configfilename, sizeof configfilename, "%s", base.c_str());
        UpdateMainWindow();
        return true;
    }
    ShowBox(BoxIcon::Critical, Format("Error loading *%s*", p.c_str()),
        Format("Due to problems with the configuration file\n%s\nIt is not loaded.", p.c_str()), { "OK" }, 0, 0);
    return false;
}

void KVXMainApp::slotConfigurationSaveConfig()
{
    // The overwrite question is ours, so the dialog must not ask as well.
    const QString path = QFileDialog::getSaveFileName(this, tr("Save configuration"), QStringLiteral("."),
        tr("Config files (*.cfg)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        saveConfigTo(path);
}

void KVXMainApp::slotConfigurationLoadConfig()
{
    const QString path
        = QFileDialog::getOpenFileName(this, tr("Load configuration"), QStringLiteral("."), tr("Config files (*.cfg)"));
    if (!path.isEmpty())
        loadConfigFrom(path);
}

void KVXMainApp::slotViewEventLog()
{
    win_viewEventLog->LoadEventLog();
    win_viewEventLog->show();
    win_viewEventLog->raise();
}

void KVXMainApp::slotFileSaveTestLog()
{
    win_SaveTestLog->UpdateWindow();
    win_SaveTestLog->show();
    win_SaveTestLog->raise();
}

void KVXMainApp::slotHelpAbout()
{
    win_About->show();
    win_About->raise();
}
