// The test selection dialog driven through its real widgets: what reaches
// testconfig and "LastUsed.cfg", and what the widgets show.
#include "TestConfig.h"

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
#include <tuple>

namespace {

const char* const kRows[] = { "Math", "Memory", "Disk", "Network", "CDROM", "2D", "3D", "SerialPort", "ParallelPort" };

class DutyCycleDialog : public ::testing::Test {
protected:
    DutyCycleDialog()
    {
        testconfig = ValidConfig();
        // The window update group looks for its marker in the working directory.
        std::filesystem::current_path(dir.path());
    }
    ~DutyCycleDialog() override
    {
        std::filesystem::current_path(m_savedCwd);
        testconfig = m_savedConfig;
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
    std::string autoTexts()
    {
        return (child<QLineEdit>("lineEditAutoTime")->text() + " " + child<QLineEdit>("lineEditAutoCycle")->text())
            .toStdString();
    }
    // The rows' check boxes, "1" for checked, in the order of kRows.
    std::string checks()
    {
        std::string out;
        for (const char* row : kRows)
            out += check(row)->isChecked() ? '1' : '0';
        return out;
    }
    // "LastUsed.cfg" holds testconfig as it is now.
    bool savedAsIs() { return ReadFile(dir.file("LastUsed.cfg")) == ConfigBytes(testconfig); }

    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<TestConfig> dlg;

private:
    _testconfig m_savedConfig = testconfig;
    std::filesystem::path m_savedCwd = std::filesystem::current_path();
    int m_savedDrives = gNumMMDevices;
    int m_savedInterval = gUpdateWindowInterval;
};

TEST_F(DutyCycleDialog, SliderAndSpinBoxFollowEachOtherOnce)
{
    testconfig.duty_cycle[kSlotMemory] = 65;
    open();
    EXPECT_EQ(std::pair(spin("Memory")->value(), slider("Memory")->value()), std::pair(65, 65));
    QSignalSpy spinChanges(spin("Memory"), &QSpinBox::valueChanged);
    QSignalSpy sliderChanges(slider("Memory"), &QSlider::valueChanged);
    slider("Memory")->setValue(30);
    EXPECT_EQ(spin("Memory")->value(), 30);
    spin("Memory")->setValue(77);
    EXPECT_EQ(std::tuple(slider("Memory")->value(), spinChanges.count(), sliderChanges.count(), spin("Math")->value()),
        std::tuple(77, 2, 2, 50));
}

TEST_F(DutyCycleDialog, OkSpreadsGroupValuesToMemberSlotsAndSaves)
{
    gNumMMDevices = 2;
    testconfig.cd_test_mode[0] = 3;
    testconfig.cd_test_mode[1] = 0; // "NO TEST"
    testconfig.serial_port_mode[0] = 0;
    testconfig.serial_port_mode[5] = 2;
    testconfig.duty_cycle[kSlotNetworkGroup] = 33;
    testconfig.test_enabled[kSlotCdFirst + 2] = 1;
    open();
    EXPECT_EQ(testconfig.duty_cycle[kSlotNetworkFirst + 1], 33) << "construction spreads what was loaded";

    spin("Network")->setValue(70);
    for (auto [row, duty] : { std::pair { "CDROM", 40 }, { "SerialPort", 60 }, { "3D", 90 } }) {
        check(row)->setChecked(true);
        spin(row)->setValue(duty);
    }
    click("buttonOk");
    EXPECT_FALSE(dlg->isVisible());
    for (int slot = kSlotNetworkFirst; slot <= kSlotNetworkGroup; ++slot)
        EXPECT_EQ(testconfig.duty_cycle[slot], 70) << slot;
    EXPECT_EQ(testconfig.test_enabled[kSlotNetworkFirst] + testconfig.test_enabled[kSlotNetworkFirst + 1], 1)
        << "address switches belong to the preferences";
    for (int slot : std::initializer_list<int> { kSlotCdGroup, kSlotCdFirst, kSlotCdFirst + 1 })
        EXPECT_EQ(testconfig.duty_cycle[slot], 40) << slot;
    // A drive in NO TEST stays off with the group on; undetected drives are left alone.
    EXPECT_EQ(std::tuple(testconfig.test_enabled[kSlotCdFirst], testconfig.test_enabled[kSlotCdFirst + 1],
                  testconfig.test_enabled[kSlotCdFirst + 2]),
        std::tuple(1, 0, 1));
    for (int slot = kSlotSerialFirst; slot <= kSlotSerialGroup; ++slot) {
        EXPECT_EQ(testconfig.duty_cycle[slot], 60) << slot;
        EXPECT_EQ(testconfig.test_enabled[slot], slot == kSlotSerialFirst + 5 || slot == kSlotSerialGroup) << slot;
    }
    EXPECT_EQ(std::tuple(testconfig.test_enabled[kSlot3D], testconfig.duty_cycle[kSlot3D]), std::tuple(1, 90));
    EXPECT_TRUE(savedAsIs()) << "saved at once, whole";

    // The group switched off takes its members with it.
    dlg->LoadPref();
    check("SerialPort")->setChecked(false);
    check("CDROM")->setChecked(false);
    click("buttonOk");
    EXPECT_EQ(testconfig.test_enabled[kSlotSerialFirst + 5] + testconfig.test_enabled[kSlotCdFirst], 0);
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
    EXPECT_EQ(autoTexts(), "2.50 9");
    EXPECT_FALSE(child<QPushButton>("buttonHelp")->isVisible());

    click("buttonResetDefaults");
    EXPECT_EQ(std::pair(spin("Math")->value(), slider("Math")->value()), std::pair(50, 50));
    EXPECT_EQ(autoTexts(), "15.00 0");
    EXPECT_EQ(checks(), "111111000");
    click("buttonAllOff");
    EXPECT_EQ(checks(), "000000000");
    click("buttonAllOn");
    EXPECT_EQ(checks(), "111111111");

    click("buttonCancel");
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(std::memcmp(&before, &testconfig, sizeof before), 0);
    EXPECT_FALSE(FileExists(dir.file("LastUsed.cfg")));
    // Reopening starts from testconfig again, not from the abandoned edits.
    dlg->LoadPref();
    EXPECT_EQ(std::pair(spin("Math")->value(), check("Memory")->isChecked()), std::pair(12, false));
}

TEST_F(DutyCycleDialog, AutoStopTextsAreReadLikeTheCLibraryDoes)
{
    open();
    for (auto [time, cycles, minutes, count] :
        { std::tuple { "abc", "abc", 0.0f, 0 }, { "2.5 minutes", "12x", 2.5f, 12 }, { " 1e1", "3.9", 10.0f, 3 },
            { "-", "99999999999", 0.0f, 2147483647 }, { "nan", "-4", 0.0f, -4 } }) {
        SCOPED_TRACE(std::string(time) + " / " + cycles);
        dlg->LoadPref();
        child<QLineEdit>("lineEditAutoTime")->setText(QString::fromLatin1(time));
        child<QLineEdit>("lineEditAutoCycle")->setText(QString::fromLatin1(cycles));
        click("buttonOk");
        EXPECT_EQ(std::tuple(testconfig.auto_stop_time, testconfig.auto_stop_cycles), std::tuple(minutes, count));
        EXPECT_TRUE(savedAsIs());
    }
}

TEST_F(DutyCycleDialog, UpdateIntervalGroupIsHiddenButAlwaysWritten)
{
    gUpdateWindowInterval = 3000;
    open();
    auto* group = child<QGroupBox>("groupBox_UpdateWindow");
    EXPECT_FALSE(group->isVisible());
    EXPECT_EQ(child<QSpinBox>("spinBox_UpdateWindow")->value(), 3000);
    child<QSpinBox>("spinBox_UpdateWindow")->setValue(500);
    click("buttonOk");
    EXPECT_EQ(gUpdateWindowInterval, 500);
}

} // namespace
