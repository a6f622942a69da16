// The test selection dialog driven through its real widgets: what reaches
// testconfig and "LastUsed.cfg", and what the widgets show.
#include "TestConfig.h"

#include "ConfigFile.h"
#include "QtTestUtils.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const char* const kRows[] = { "Math", "Memory", "Disk", "Network", "CDROM", "2D", "3D", "SerialPort", "ParallelPort" };

class DutyCycleDialog : public ::testing::Test {
protected:
    DutyCycleDialog()
    {
        std::memcpy(&m_savedConfig, &testconfig, sizeof testconfig);
        KalvexTest_SetUpDefault(&testconfig);
        std::memcpy(testconfig.magic, kConfigMagic, 8);
        testconfig.version = kConfigVersion;
        // The window update group looks for its marker in the working directory.
        std::filesystem::current_path(dir.path());
    }
    ~DutyCycleDialog() override
    {
        std::filesystem::current_path(m_savedCwd);
        std::memcpy(&testconfig, &m_savedConfig, sizeof testconfig);
        gNumMMDevices = m_savedDrives;
        gUpdateWindowInterval = m_savedInterval;
    }

    void open()
    {
        dlg = std::make_unique<TestConfig>(QString::fromStdString(dir.path()));
        dlg->LoadPref();
        dlg->show();
    }
    template <class T> T* child(const std::string& name)
    {
        return findChildOrFail<T>(dlg.get(), QString::fromStdString(name));
    }
    QSpinBox* spin(const char* row) { return child<QSpinBox>(std::string("spinBox") + row); }
    QSlider* slider(const char* row) { return child<QSlider>(std::string("slider") + row); }
    QCheckBox* check(const char* row) { return child<QCheckBox>(std::string("checkBox") + row); }
    void click(const char* name) { child<QPushButton>(name)->click(); }

    _testconfig saved()
    {
        _testconfig cfg {};
        const std::string bytes = ReadFile(dir.file("LastUsed.cfg"));
        EXPECT_EQ(bytes.size(), sizeof cfg);
        std::memcpy(&cfg, bytes.data(), std::min(bytes.size(), sizeof cfg));
        return cfg;
    }

    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<TestConfig> dlg;

private:
    _testconfig m_savedConfig;
    std::filesystem::path m_savedCwd = std::filesystem::current_path();
    int m_savedDrives = gNumMMDevices;
    int m_savedInterval = gUpdateWindowInterval;
};

TEST_F(DutyCycleDialog, SpinBoxTintRunsFromRedThroughWhiteToGreen)
{
    open();
    const struct {
        int duty;
        QColor colour;
    } cases[] = { { 1, QColor(255, 5, 5) }, { 25, QColor(255, 127, 127) }, { 50, QColor(255, 255, 255) },
        { 51, QColor(249, 255, 249) }, { 100, QColor(0, 255, 0) } };
    for (const char* row : { "Math", "ParallelPort" }) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(row) + " " + std::to_string(c.duty));
            spin(row)->setValue(c.duty);
            dlg->grab(); // paints the dialog, which tints its spin boxes
            EXPECT_EQ(spin(row)->palette().color(QPalette::Button), c.colour);
            EXPECT_EQ(spin(row)->palette().color(QPalette::Light), c.colour);
        }
    }
}

TEST_F(DutyCycleDialog, SliderAndSpinBoxFollowEachOtherOnce)
{
    testconfig.duty_cycle[kSlotMemory] = 65;
    open();
    EXPECT_EQ(spin("Memory")->value(), 65);
    EXPECT_EQ(slider("Memory")->value(), 65) << "the slider shows the loaded value too";

    QSignalSpy spinChanges(spin("Memory"), &QSpinBox::valueChanged);
    QSignalSpy sliderChanges(slider("Memory"), &QSlider::valueChanged);
    slider("Memory")->setValue(30);
    EXPECT_EQ(spin("Memory")->value(), 30);
    spin("Memory")->setValue(77);
    EXPECT_EQ(slider("Memory")->value(), 77);
    EXPECT_EQ(spinChanges.count(), 2);
    EXPECT_EQ(sliderChanges.count(), 2);
    EXPECT_EQ(spin("Math")->value(), 50) << "rows are independent";
}

TEST_F(DutyCycleDialog, OkSpreadsGroupValuesToMemberSlotsAndSaves)
{
    gNumMMDevices = 2;
    testconfig.cd_test_mode[0] = 3;
    testconfig.cd_test_mode[1] = 0; // "NO TEST"
    testconfig.serial_port_mode[0] = 0;
    testconfig.serial_port_mode[5] = 2;
    testconfig.duty_cycle[kSlotNetworkGroup] = 33;
    testconfig.test_enabled[35] = 1;
    open();
    EXPECT_EQ(testconfig.duty_cycle[29], 33) << "construction spreads what was loaded";

    spin("Network")->setValue(70);
    check("CDROM")->setChecked(true);
    spin("CDROM")->setValue(40);
    check("SerialPort")->setChecked(true);
    spin("SerialPort")->setValue(60);
    check("3D")->setChecked(true);
    spin("3D")->setValue(90);
    click("buttonOk");

    EXPECT_FALSE(dlg->isVisible());
    for (int slot = 28; slot <= 32; ++slot)
        EXPECT_EQ(testconfig.duty_cycle[slot], 70) << slot;
    EXPECT_EQ(testconfig.test_enabled[28], 1) << "address switches belong to the preferences";
    EXPECT_EQ(testconfig.test_enabled[29], 0);
    EXPECT_EQ(testconfig.duty_cycle[kSlotCdGroup], 40);
    EXPECT_EQ(testconfig.duty_cycle[33], 40);
    EXPECT_EQ(testconfig.duty_cycle[34], 40);
    EXPECT_EQ(testconfig.test_enabled[33], 1);
    EXPECT_EQ(testconfig.test_enabled[34], 0) << "a drive in NO TEST stays off with the group on";
    EXPECT_EQ(testconfig.test_enabled[35], 1) << "undetected drives are left alone";
    EXPECT_EQ(testconfig.duty_cycle[kSlotSerialGroup], 60);
    for (int port = 0; port < kNumSerialPorts; ++port) {
        EXPECT_EQ(testconfig.duty_cycle[90 + port], 60) << port;
        EXPECT_EQ(testconfig.test_enabled[90 + port], port == 5 ? 1 : 0) << port;
    }
    EXPECT_EQ(testconfig.test_enabled[kSlot3D], 1);
    EXPECT_EQ(testconfig.duty_cycle[kSlot3D], 90);

    const _testconfig file = saved();
    EXPECT_EQ(std::memcmp(&file, &testconfig, sizeof file), 0) << "saved at once, whole";

    // The group switched off takes its members with it.
    dlg->LoadPref();
    check("SerialPort")->setChecked(false);
    check("CDROM")->setChecked(false);
    click("buttonOk");
    EXPECT_EQ(testconfig.test_enabled[95], 0);
    EXPECT_EQ(testconfig.test_enabled[33], 0);
}

TEST_F(DutyCycleDialog, ButtonsEditOnlyUntilCancel)
{
    testconfig.duty_cycle[kSlotMaths] = 12;
    testconfig.test_enabled[kSlot3D] = 1;
    testconfig.test_enabled[kSlotMemory] = 0;
    testconfig.auto_stop_time = 2.5f;
    testconfig.auto_stop_cycles = 9;
    const _testconfig before = testconfig;
    open();
    EXPECT_EQ(child<QLineEdit>("lineEditAutoTime")->text(), "2.50");
    EXPECT_EQ(child<QLineEdit>("lineEditAutoCycle")->text(), "9");
    EXPECT_FALSE(child<QPushButton>("buttonHelp")->isVisible());

    click("buttonResetDefaults");
    EXPECT_EQ(spin("Math")->value(), 50);
    EXPECT_EQ(slider("Math")->value(), 50);
    EXPECT_EQ(child<QLineEdit>("lineEditAutoTime")->text(), "15.00");
    EXPECT_EQ(child<QLineEdit>("lineEditAutoCycle")->text(), "0");
    const bool defaults[] = { true, true, true, true, true, true, false, false, false };
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(check(kRows[i])->isChecked(), defaults[i]) << kRows[i];

    click("buttonAllOff");
    for (const char* row : kRows)
        EXPECT_FALSE(check(row)->isChecked()) << row;
    click("buttonAllOn");
    for (const char* row : kRows)
        EXPECT_TRUE(check(row)->isChecked()) << row;

    click("buttonCancel");
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(std::memcmp(&before, &testconfig, sizeof before), 0);
    EXPECT_FALSE(FileExists(dir.file("LastUsed.cfg")));

    // Reopening starts from testconfig again, not from the abandoned edits.
    dlg->LoadPref();
    EXPECT_EQ(spin("Math")->value(), 12);
    EXPECT_FALSE(check("Memory")->isChecked());
}

TEST_F(DutyCycleDialog, AutoStopTextsAreReadLikeTheCLibraryDoes)
{
    open();
    const struct {
        const char* time;
        const char* cycles;
        float minutes;
        int count;
    } cases[] = { { "abc", "abc", 0.0f, 0 }, { "2.5 minutes", "12x", 2.5f, 12 }, { " 1e1", "3.9", 10.0f, 3 },
        { "-", "99999999999", 0.0f, 2147483647 }, { "nan", "-4", 0.0f, -4 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.time) + " / " + c.cycles);
        dlg->LoadPref();
        child<QLineEdit>("lineEditAutoTime")->setText(QString::fromLatin1(c.time));
        child<QLineEdit>("lineEditAutoCycle")->setText(QString::fromLatin1(c.cycles));
        click("buttonOk");
        EXPECT_FLOAT_EQ(testconfig.auto_stop_time, c.minutes);
        EXPECT_EQ(testconfig.auto_stop_cycles, c.count);
        EXPECT_FLOAT_EQ(saved().auto_stop_time, c.minutes);
    }
}

TEST_F(DutyCycleDialog, UpdateIntervalGroupNeedsDebugLogButIsAlwaysWritten)
{
    gUpdateWindowInterval = 3000;
    open();
    auto* group = child<QGroupBox>("groupBox_UpdateWindow");
    EXPECT_FALSE(group->isVisible());
    EXPECT_EQ(child<QSpinBox>("spinBox_UpdateWindow")->value(), 3000);
    child<QSpinBox>("spinBox_UpdateWindow")->setValue(500);
    click("buttonOk");
    EXPECT_EQ(gUpdateWindowInterval, 500);

    WriteFile(dir.file("debug.log"), "");
    dlg->LoadPref();
    dlg->show();
    EXPECT_FALSE(group->isVisible()) << "the name is matched exactly";
    WriteFile(dir.file("Debug.log"), "");
    dlg->LoadPref();
    EXPECT_TRUE(group->isVisible());
    EXPECT_EQ(child<QSpinBox>("spinBox_UpdateWindow")->value(), 500);
}

} // namespace
