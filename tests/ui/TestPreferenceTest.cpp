// The preferences dialog driven through its real widgets: the checks on OK,
// what reaches testconfig, "LastUsed.cfg", ".accum_result.cfg" and the
// health settings file, and when the event log files are created again.
#include "TestPreference.h"

#include "CLogger.h"
#include "HealthSettings.h"
#include "QtTestUtils.h"
#include "ResultRecord.h"
#include "Run.h"
#include "RunContext.h"
#include "ScopedEuid.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TestConfig.h"
#include "TraceCapture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::time_t fixedClock()
{
    std::tm t {};
    ::strptime("2007-03-05 14:02:11", "%F %T", &t);
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// Puts an object's bytes back when the test ends.
struct Restore {
    template <class T>
    explicit Restore(T& object)
        : at(&object)
        , bytes(reinterpret_cast<const char*>(&object), sizeof object)
    {
    }
    ~Restore() { std::memcpy(at, bytes.data(), bytes.size()); }
    void* at;
    std::string bytes;
};

class Preferences : public ::testing::Test {
protected:
    Preferences()
    {
        testconfig = ValidConfig();
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        std::filesystem::create_directory(dir.file("data"));
        std::filesystem::create_directory(logDir);
        // Two disk candidates: the root file system and a data disk.
        WriteFile(dir.file("mtab"),
            "/dev/vda1 / ext4 rw 0 0\n/dev/sdb1 " + dir.file("data") + " ext2 rw 0 0\nproc /proc proc rw 0 0\n");
        gNumMntPoints = 0;
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        gNumMMDevices = 2;
        std::strcpy(gMultimediaStructPtr[0].alias, "CD-ROM [/dev/sr0]");
        std::strcpy(gMultimediaStructPtr[1].alias, "DVD [/dev/sr1]");
        gLogger = logger.get();
        gReportClock = fixedClock;
        gFollowConfigLogPath = true;
        dlg->setMountTable(QString::fromStdString(dir.file("mtab")));
    }
    ~Preferences() override
    {
        dlg.reset();
        logger.reset(); // closes the log files
    }

    void open()
    {
        gNumMntPoints = 0;
        dlg->LoadPref();
        dlg->show();
    }
    template <class T> T* child(const std::string& name)
    {
        return findChildOrFail<T>(dlg.get(), QString::fromStdString(name));
    }
    QLineEdit* edit(const std::string& name) { return child<QLineEdit>(name); }
    void click(const std::string& name) { child<QAbstractButton>(name)->click(); }
    void ok() { click("buttonOk"); }
    QString currentTab() { return child<QTabWidget>("tabTestPreferences")->currentWidget()->objectName(); }
    QStringList serialRows()
    {
        QStringList rows;
        auto* list = child<QListWidget>("listBox_SerialPort");
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
        return rows;
    }
    QStringList row(const char* table, int r)
    {
        QStringList out;
        auto* t = child<QTableWidget>(table);
        for (int c = 0; c < t->columnCount(); ++c)
            out << (t->item(r, c) ? t->item(r, c)->text() : QStringLiteral("<none>"));
        return out;
    }
    // "LastUsed.cfg" holds testconfig as it is now.
    bool savedAsIs() { return ReadFile(dir.file("LastUsed.cfg")) == ConfigBytes(testconfig); }

    // Everything the dialog reads or writes besides its widgets.
    Restore state[11] { Restore(testconfig), Restore(tempConfig), Restore(resultfile), Restore(gFileSystemStructPtr),
        Restore(gMultimediaStructPtr), Restore(gNumMntPoints), Restore(gNumMMDevices), Restore(dirname),
        Restore(gLogger), Restore(gReportClock), Restore(gFollowConfigLogPath) };
    TraceCapture trace; // the disk scan and the event log are talkative
    TempDir dir;
    const std::string logDir = dir.file("logs");
    RecordingSink sink;
    std::unique_ptr<CLogger> logger = std::make_unique<CLogger>("dummyStr");
    std::unique_ptr<TestPreference> dlg = std::make_unique<TestPreference>(QString::fromStdString(dir.path()));
};

// A value outside its range is refused on its own tab, with the focus on it
// and nothing saved; the edge values pass.
TEST_F(Preferences, FieldsOutsideTheirRangesAreRefusedOnTheirTab)
{
    const std::string range = " is not valid.\nIt must be in the range of ",
                      please = ".\nPlease enter a value in this range.";
    const struct {
        const char *field, *text, *tab;
        std::string message; // empty: accepted
    } cases[] = {
        { "lineEdit_Disk_FileSize", "15", "tabDisk", "" },
        { "lineEdit_Disk_FileSize", "0.1", "tabDisk", "" },
        { "lineEdit_Disk_FileSize", "0.05", "tabDisk",
            "The disk test file size of 0.05%" + range + "0.1% to 15.0%" + please },
        { "lineEdit_Network_Timeout", "30000", "tabNetwork", "" },
        { "lineEdit_Network_Timeout", "30001", "tabNetwork",
            "The network test timeout of 30001" + range + "1 to 30000" + please },
        { "lineEdit_Network_BadPktRatio", "99.5", "tabNetwork", "" },
        { "lineEdit_Network_BadPktRatio", "0.5", "tabNetwork",
            "The network test bad packet ratio of 0.5%" + range + "1 to 99" + please },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.text);
        sink.boxes.clear();
        std::remove(dir.file("LastUsed.cfg").c_str());
        open();
        child<QTabWidget>("tabTestPreferences")->setCurrentIndex(2); // logging
        edit(c.field)->setText(QString::fromLatin1(c.text));
        ok();
        EXPECT_EQ(dlg->isVisible(), !c.message.empty());
        EXPECT_EQ(FileExists(dir.file("LastUsed.cfg")), c.message.empty());
        if (c.message.empty())
            continue;
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(std::tuple(sink.boxes[0].icon, sink.boxes[0].caption, sink.boxes[0].text),
            std::tuple(BoxIcon::Critical, std::string("KalvexTest Error"), c.message));
        EXPECT_EQ(currentTab(), c.tab);
        EXPECT_EQ(dlg->focusWidget(), edit(c.field));
    }
    EXPECT_EQ(testconfig.network_timeout_ms, 30000);
    EXPECT_FLOAT_EQ(testconfig.network_bad_packet_ratio, 99.5f);
    EXPECT_DOUBLE_EQ(testconfig.disk_file_size_pct[0], 0.1);

    // A bad size left behind in another disk's row is not let through either.
    open();
    edit("lineEdit_Disk_FileSize")->setText("0");
    child<QTableWidget>("tableDiskSelect")->setCurrentCell(1, 0);
    child<QCheckBox>("checkBoxDiskSelect")->setChecked(true);
    ok();
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_NE(sink.boxes[1].text.find("file size of 0.0%"), std::string::npos) << sink.boxes[1].text;
    EXPECT_EQ(child<QTableWidget>("tableDiskSelect")->currentRow(), 0);
}

TEST_F(Preferences, FileOptionAndPreTestModeStayInStep)
{
    open();
    auto* clearNew = child<QRadioButton>("radioButtonLogClearNew");
    auto* single = child<QRadioButton>("radioButtonOptionSingle");
    auto* preview = child<QLabel>("textLabelPrefixPreview");
    edit("lineEditPrefix")->setText("pc7_");
    edit("lineEditFileName")->setText("/tmp/x.y/mytest.txt");
    EXPECT_EQ(preview->text(), "pc7_mytest.log");

    click("radioButtonOptionMultiple");
    EXPECT_TRUE(clearNew->isChecked());
    EXPECT_EQ(preview->text(), "pc7_mytest_20070305_140211.log");

    for (const char* appendMode : { "radioButtonLogAccumAppend", "radioButtonLogClearAppend" }) {
        SCOPED_TRACE(appendMode);
        click("radioButtonOptionMultiple");
        click(appendMode);
        EXPECT_TRUE(single->isChecked());
        EXPECT_EQ(preview->text(), "pc7_mytest.log");
    }
    click("radioButtonLogClearNew");
    EXPECT_TRUE(single->isChecked()) << "creating new files does not force time stamps";
    click("radioButtonFileFormatH");
    EXPECT_EQ(preview->text(), "pc7_mytest.htm");

    // A configuration saved with time-stamped files opens consistent too.
    testconfig.log_file_option = 1;
    testconfig.pretest_log_mode = 0;
    open();
    EXPECT_TRUE(clearNew->isChecked());
    EXPECT_TRUE(child<QRadioButton>("radioButtonOptionMultiple")->isChecked());
}

TEST_F(Preferences, LogFilesAreCreatedAgainOnlyWhenTheirSettingsChange)
{
    const std::string log = logDir + "/KVX_log.log";
    const std::string trace = logDir + "/KVX_log.trace";
    const struct {
        const char* what;
        int logging, trace;
        std::function<void()> edit;
        std::vector<std::string> created;
    } cases[] = {
        { "trace 1 to 2", 1, 3, [this] { child<QComboBox>("comboBoxTraceLevel")->setCurrentIndex(2); }, {} },
        { "no trace to trace 1", 1, 2, [this] { child<QComboBox>("comboBoxTraceLevel")->setCurrentIndex(1); },
            { log, trace } },
        { "prefix only", 1, 2, [this] { edit("lineEditPrefix")->setText("p_"); }, {} },
        { "format", 1, 2, [this] { click("radioButtonFileFormatH"); }, { logDir + "/KVX_log.htm" } },
        { "time-stamped files", 1, 2, [this] { click("radioButtonOptionMultiple"); },
            { logDir + "/KVX_log_20070305_140211.log" } },
        { "switched on", 0, 2, [this] { child<QCheckBox>("checkBoxLogging")->setChecked(true); }, { log } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(logDir);
        std::filesystem::create_directory(logDir);
        KalvexTest_SetUpDefault(&testconfig);
        testconfig.logging_enabled = c.logging;
        testconfig.trace_level = c.trace;
        testconfig.log_header_written = 1;
        testconfig.log_prefix[0] = '\0'; // the defaults leave it alone
        std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", logDir.c_str());
        open();
        c.edit();
        ok();
        ASSERT_FALSE(dlg->isVisible());
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(logDir))
            files.push_back(e.path().string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.created);
        if (!c.created.empty()) {
            EXPECT_NE(ReadFile(c.created[0]).find("DETAILED EVENT LOG"), std::string::npos)
                << "a new file starts with its header";
            EXPECT_TRUE(testconfig.log_header_written == 1 && savedAsIs());
        }
    }

    // Switching logging off leaves the open files alone.
    KalvexTest_SetUpDefault(&testconfig);
    testconfig.logging_enabled = 1;
    std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", logDir.c_str());
    gLogger->CreateLogFile(true);
    FILE* const open_file = g_fpLogFile;
    ASSERT_NE(open_file, nullptr);
    const std::string before = ReadFile(log);
    open();
    child<QCheckBox>("checkBoxLogging")->setChecked(false);
    edit("lineEditFileName")->setText(QString::fromStdString(logDir + "/other"));
    ok();
    EXPECT_EQ(g_fpLogFile, open_file);
    EXPECT_EQ(ReadFile(log), before);
    EXPECT_FALSE(FileExists(logDir + "/other.log"));
    EXPECT_EQ(testconfig.logging_enabled, 0);
}

TEST_F(Preferences, LeavingAccumulateModeClearsAccumulatedResultsAtOnce)
{
    const std::string accum = dir.file(".accum_result.cfg");
    std::memset(&resultfile, 0, sizeof resultfile);
    resultfile.accum_results[kSlotMaths].cycles = 7;
    resultfile.accum_classes[kSlotMaths].serious = 2;
    resultfile.accum_duration = 600;
    resultfile.error_occurrences[5] = 3;
    std::strcpy(resultfile.first_occurrence[5], "SERIOUS    : 2007-03-05 14:02:11, Maths");
    resultfile.results[kSlotMaths].cycles = 2;
    std::strcpy(resultfile.machine_type, "Tower 3000");
    WriteFile(accum, std::string(reinterpret_cast<const char*>(&resultfile), sizeof resultfile));
    testconfig.pretest_log_mode = 1;

    // Staying in the mode keeps everything.
    open();
    edit("lineEdit_Network_Timeout")->setText("2500");
    ok();
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 7u);
    EXPECT_EQ(ReadFile(accum), std::string(reinterpret_cast<const char*>(&resultfile), sizeof resultfile));

    open();
    click("radioButtonLogClearAppend");
    ok();
    EXPECT_EQ(testconfig.pretest_log_mode, 0);
    // All but the machine identification is cleared, and the file rewritten before any run.
    _resultfile cleared {};
    std::strcpy(cleared.machine_type, "Tower 3000");
    EXPECT_EQ(std::memcmp(&resultfile, &cleared, sizeof cleared), 0);
    EXPECT_EQ(ReadFile(accum), std::string(reinterpret_cast<const char*>(&resultfile), sizeof resultfile));
}

TEST_F(Preferences, LogFileTextGivesDirectoryAndBothNames)
{
    for (auto [text, directory, name] : { std::tuple { "/var/log/mytest.txt", "/var/log", "mytest" },
             { "plain.name.log", "/keep", "plain.name" }, { "/top", "/", "top" }, { "", "/keep", "KVX_log" } }) {
        SCOPED_TRACE(text);
        std::strcpy(testconfig.log_directory, "/keep");
        std::strcpy(testconfig.log_file_name, "KVX_log");
        std::strcpy(testconfig.trace_file_name, "KVX_log");
        open();
        EXPECT_EQ(edit("lineEditFileName")->text(), "/keep/KVX_log");
        edit("lineEditFileName")->setText(QString::fromLatin1(text));
        ok();
        EXPECT_EQ(std::tuple(std::string(testconfig.log_directory), std::string(testconfig.log_file_name),
                      std::string(testconfig.trace_file_name), savedAsIs()),
            std::tuple(directory, name, name, true));
    }
    // A path longer than the field is cut at a whole character.
    open();
    const QString longName = "/d/" + QString(395, QChar(0x00e9));
    edit("lineEditFileName")->setText(longName + "z");
    ok();
    EXPECT_EQ(QString::fromLocal8Bit(testconfig.log_file_name), longName.mid(3, 199));
}

TEST_F(Preferences, SerialPortListFollowsAddAndRemove)
{
    open();
    EXPECT_EQ(serialRows(), QStringList { "ttyS0, Loopback test" });
    child<QSpinBox>("spinBox_SerialPort_PortNum")->setValue(63);
    click("radioButton_SerialPort_DetectOnly");
    click("pushButton_SerialPort_AddPort");
    child<QSpinBox>("spinBox_SerialPort_PortNum")->setValue(5);
    click("radioButton_SerialPort_DetectLoopback");
    click("pushButton_SerialPort_AddPort");
    EXPECT_EQ(serialRows(), (QStringList { "ttyS0, Loopback test", "ttyS5, Loopback test", "ttyS63, Detect only" }));
    EXPECT_EQ(testconfig.serial_port_mode[63], 0) << "nothing before OK";

    child<QListWidget>("listBox_SerialPort")->setCurrentRow(0);
    click("pushButton_SerialPort_RemovePort");
    EXPECT_EQ(serialRows(), (QStringList { "ttyS5, Loopback test", "ttyS63, Detect only" }));
    child<QListWidget>("listBox_SerialPort")->setCurrentRow(1);
    click("pushButton_SerialPort_RemovePort");
    EXPECT_EQ(serialRows(), QStringList { "ttyS5, Loopback test" });
    ok();
    for (int port = 0; port < kNumSerialPorts; ++port) {
        EXPECT_EQ(testconfig.serial_port_mode[port], port == 5 ? 1 : 0) << port;
        EXPECT_EQ(testconfig.test_enabled[kSlotSerialFirst + port], port == 5 ? 1 : 0) << port;
    }
    EXPECT_TRUE(savedAsIs());
}

TEST_F(Preferences, DiskAndDriveRowsKeepTheirOwnSettings)
{
    testconfig.cd_test_mode[0] = 3;
    testconfig.cd_seek[0] = 0x8000 | 50;
    testconfig.cd_test_mode[1] = 1;
    testconfig.test_enabled[kSlotCdFirst + 1] = 0;
    open();
    auto* disks = child<QTableWidget>("tableDiskSelect");
    ASSERT_EQ(disks->rowCount(), 2);
    EXPECT_EQ(disks->verticalHeaderItem(0)->text(), "Startup Disk [/dev/vda1]");
    EXPECT_EQ(child<QGroupBox>("groupBoxDiskSelect")->title(), "Edit details for drive: Startup Disk [/dev/vda1]");
    EXPECT_STREQ(testconfig.disk_path[1], dir.file("data").c_str());

    edit("lineEdit_Disk_FileSize")->setText("2.5");
    child<QComboBox>("comboBoxTestMode")->setCurrentIndex(7);
    EXPECT_EQ(row("tableDiskSelect", 0).mid(1, 2), QStringList({ "Random data pattern", "2.5" }));
    EXPECT_EQ(row("tableDiskSelect", 1).mid(0, 2), QStringList({ "Not testing", "" }));
    disks->setCurrentCell(1, 0);
    EXPECT_FALSE(child<QComboBox>("comboBoxTestMode")->isEnabled()) << "an unselected disk is not edited";
    child<QCheckBox>("checkBoxDiskSelect")->setChecked(true);
    EXPECT_TRUE(child<QComboBox>("comboBoxTestMode")->isEnabled());
    child<QSpinBox>("spinBoxSeekCount")->setValue(400);
    EXPECT_EQ(row("tableDiskSelect", 1)[6], "400");
    disks->setCurrentCell(0, 0);
    EXPECT_EQ(std::pair(edit("lineEdit_Disk_FileSize")->text(), child<QComboBox>("comboBoxTestMode")->currentIndex()),
        std::pair(QString("2.5"), 7));

    // CD/DVD: the reference disc mode seeks; "NO TEST" keeps its drive off.
    auto* mode = child<QComboBox>("comboBox_CDROM_TestMode");
    auto* seek = child<QCheckBox>("checkBox_CDROM_Seek");
    auto* seekCount = child<QSpinBox>("spinBox_CDROM_SeekCount");
    EXPECT_EQ(std::tuple(mode->currentIndex(), seek->isChecked(), seekCount->value(), seekCount->isEnabled()),
        std::tuple(3, true, 50, true));
    EXPECT_EQ(row("table_CDROM_Select", 1)[5], "Yes") << "a tested drive follows the CD/DVD group";
    seek->setChecked(false);
    EXPECT_FALSE(seekCount->isEnabled());
    mode->setCurrentIndex(0);
    EXPECT_FALSE(seekCount->isHidden() || seek->isEnabled());
    EXPECT_EQ(row("table_CDROM_Select", 0)[5], "No");
    child<QTableWidget>("table_CDROM_Select")->setCurrentCell(1, 0);
    EXPECT_EQ(child<QGroupBox>("groupBox_CDROM_Select")->title(), "Edit details for drive: DVD [/dev/sr1]");
    EXPECT_TRUE(seekCount->isHidden()) << "music playback does not seek";
    click("radioButton_CDROM_BlockAutoplay");
    ok();

    const _testconfig& c = testconfig;
    EXPECT_EQ(std::tuple(c.disk_file_size_pct[0], c.disk_test_mode[0], c.test_enabled[kSlotDiskFirst + 1],
                  c.disk_seek_count[1]),
        std::tuple(2.5, 7, 1, 400));
    EXPECT_EQ(std::tuple(c.cd_test_mode[0], c.cd_seek[0], c.test_enabled[kSlotCdFirst],
                  c.test_enabled[kSlotCdFirst + 1], c.cd_autoplay),
        std::tuple(0, 50, 0, 1, 0));
    EXPECT_TRUE(savedAsIs() && testconfig.disk_path[1] == dir.file("data")) << "the new candidate's path is kept";
}

TEST_F(Preferences, OkKeepsWhatChangedElsewhereWhileTheDialogWasOpen)
{
    open();
    edit("lineEdit_Network_Timeout")->setText("2500");
    child<QSpinBox>("spinBox_SerialPort_PortNum")->setValue(7);
    click("pushButton_SerialPort_AddPort");

    // Meanwhile: the event log counts lines, the category view is toggled
    // and the test selection dialog is opened and confirmed.
    testconfig.log_line_count = 42;
    testconfig.view_errors_by_category = 1;
    TestConfig selection(QString::fromStdString(dir.path()));
    selection.LoadPref();
    findChildOrFail<QSpinBox>(&selection, "spinBoxMath")->setValue(77);
    selection.accept();

    ok();
    EXPECT_EQ(testconfig.network_timeout_ms, 2500);
    EXPECT_EQ(testconfig.serial_port_mode[7], 1) << "the other dialog left these edits alone";
    EXPECT_EQ(testconfig.log_line_count, 42);
    EXPECT_EQ(testconfig.view_errors_by_category, 1);
    EXPECT_EQ(testconfig.duty_cycle[kSlotMaths], 77);
    EXPECT_TRUE(savedAsIs());

    // Cancel keeps testconfig as it is.
    const _testconfig before = testconfig;
    open();
    edit("lineEdit_Network_Timeout")->setText("900");
    click("buttonCancel");
    EXPECT_EQ(std::memcmp(&before, &testconfig, sizeof before), 0);
}

// The health tab shows the context's settings at every opening; OK writes
// them to their own file and into the context, Cancel drops the edits, and
// a save that fails says why and leaves the edits in the open dialog.
TEST_F(Preferences, HealthTabSavesItsOwnFileAndTheContext)
{
    ::Run run;
    RunContext ctx(testconfig, resultfile, gLogger, run, dir.path());
    HealthSettings before = DefaultHealthSettings();
    before.ecc = false;
    before.edacRoot = dir.file("edac");
    ctx.setSettings(before);
    dlg->setRunContext(&ctx);
    const std::string file = dir.file(kHealthSettingsFile);
    auto saved = [&] {
        std::vector<std::string> problems;
        return LoadHealthSettings(file, problems);
    };

    open();
    child<QListWidget>("listBoxTestPreferences")->setCurrentRow(9);
    EXPECT_EQ(currentTab(), "tabHealth");
    auto* monitor = child<QCheckBox>("checkBox_Health_Monitor");
    auto* ecc = child<QCheckBox>("checkBox_Health_Ecc");
    auto* limit = child<QSpinBox>("spinBox_Health_ThermalLimit");
    EXPECT_TRUE(monitor->isChecked());
    EXPECT_FALSE(ecc->isChecked());
    EXPECT_EQ(limit->text(), "no limit");
    monitor->click();
    EXPECT_FALSE(ecc->isEnabled() || limit->isEnabled()) << "greyed out while nothing is watched";
    monitor->click();
    EXPECT_TRUE(ecc->isEnabled() && limit->isEnabled());
    ecc->click();
    child<QCheckBox>("checkBox_Health_KernelLog")->click();
    limit->setValue(95);
    EXPECT_EQ(limit->text(), QString::fromUtf8("95 \u00B0C"));
    ok();
    EXPECT_FALSE(dlg->isVisible());
    for (const HealthSettings& s : { ctx.settings<HealthSettings>(), saved() }) {
        EXPECT_TRUE(s.monitor && s.temperatures && s.ecc);
        EXPECT_FALSE(s.kernelLog);
        EXPECT_EQ(s.thermalLimit, 95);
    }
    EXPECT_EQ(ctx.settings<HealthSettings>().edacRoot, before.edacRoot) << "what the tab does not show is kept";
    EXPECT_TRUE(savedAsIs()) << "nothing of it in the configuration record";

    open();
    limit->setValue(120);
    click("buttonCancel");
    open();
    EXPECT_EQ(limit->value(), 95) << "the context's settings, not the cancelled edit";

    limit->setValue(120);
    {
        ScopedEuid nobody(65534);
        ASSERT_TRUE(nobody.ok());
        ok();
    }
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Warning);
    EXPECT_NE(sink.boxes[0].text.find(file + ": Permission denied"), std::string::npos) << sink.boxes[0].text;
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(limit->value(), 120);
    EXPECT_EQ(ctx.settings<HealthSettings>().thermalLimit, 95);
    EXPECT_EQ(saved().thermalLimit, 95);
    ok();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(saved().thermalLimit, 120);
}

} // namespace
