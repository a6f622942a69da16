#include "TestConfig.h"

#include "AtomicField.h"
#include "ConfigFile.h"
#include "DialogFields.h"
#include "Startup.h"
#include "SystemInfo.h"

#include "ui_TestConfigBase.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cstring>

void SpreadGroupSettings()
{
    const int network = relaxedLoad(testconfig.duty_cycle[kSlotNetworkGroup]);
    for (int slot = kSlotNetworkFirst; slot < kSlotNetworkGroup; ++slot)
        relaxedStore(testconfig.duty_cycle[slot], network);

    const int cdDuty = relaxedLoad(testconfig.duty_cycle[kSlotCdGroup]);
    const std::uint8_t cdOn = relaxedLoad(testconfig.test_enabled[kSlotCdGroup]);
    const int drives = std::clamp(relaxedLoad(gNumMMDevices), 0, kNumCdDrives);
    for (int k = 0; k < drives; ++k) {
        relaxedStore(testconfig.duty_cycle[kSlotCdFirst + k], cdDuty);
        const bool tested = relaxedLoad(testconfig.cd_test_mode[k]) != 0;
        relaxedStore(testconfig.test_enabled[kSlotCdFirst + k], tested ? cdOn : std::uint8_t { 0 });
    }

    const int serialDuty = relaxedLoad(testconfig.duty_cycle[kSlotSerialGroup]);
    const std::uint8_t serialOn = relaxedLoad(testconfig.test_enabled[kSlotSerialGroup]);
    for (int p = 0; p < kNumSerialPorts; ++p) {
        relaxedStore(testconfig.duty_cycle[kSlotSerialFirst + p], serialDuty);
        const bool listed = relaxedLoad(testconfig.serial_port_mode[p]) != 0;
        relaxedStore(testconfig.test_enabled[kSlotSerialFirst + p], listed ? serialOn : std::uint8_t { 0 });
    }
}

TestConfig::TestConfig(const QString& programDir, QWidget* parent)
    : TestConfigBase(parent)
    , m_programDir(programDir)
    , m_rows { {
          { ui->checkBoxMath, ui->sliderMath, ui->spinBoxMath, kSlotMaths },
          { ui->checkBoxMemory, ui->sliderMemory, ui->spinBoxMemory, kSlotMemory },
          { ui->checkBoxDisk, ui->sliderDisk, ui->spinBoxDisk, kSlotDiskGroup },
          { ui->checkBoxNetwork, ui->sliderNetwork, ui->spinBoxNetwork, kSlotNetworkGroup },
          { ui->checkBoxCDROM, ui->sliderCDROM, ui->spinBoxCDROM, kSlotCdGroup },
          { ui->checkBox2D, ui->slider2D, ui->spinBox2D, kSlot2D },
          { ui->checkBox3D, ui->slider3D, ui->spinBox3D, kSlot3D },
          { ui->checkBoxSerialPort, ui->sliderSerialPort, ui->spinBoxSerialPort, kSlotSerialGroup },
          { ui->checkBoxParallelPort, ui->sliderParallelPort, ui->spinBoxParallelPort, kSlotParallel },
      } }
{
    ui->buttonHelp->hide();
    for (const Row& row : m_rows) {
        // setValue with the value already held emits nothing, so the pair
        // settles after one round.
        connect(row.slider, &QSlider::valueChanged, row.spin, &QSpinBox::setValue);
        connect(row.spin, &QSpinBox::valueChanged, row.slider, &QSlider::setValue);
        connect(row.slider, &QSlider::valueChanged, this, qOverload<>(&QWidget::update));
        connect(row.spin, &QSpinBox::valueChanged, this, qOverload<>(&QWidget::update));
    }
    connect(ui->buttonOk, &QPushButton::clicked, this, &TestConfig::accept);
    connect(ui->buttonCancel, &QPushButton::clicked, this, &TestConfig::reject);
    connect(ui->buttonAllOn, &QPushButton::clicked, this, &TestConfig::slotAllOn);
    connect(ui->buttonAllOff, &QPushButton::clicked, this, &TestConfig::slotAllOff);
    connect(ui->buttonResetDefaults, &QPushButton::clicked, this, &TestConfig::slotResetDefaults);

    SpreadGroupSettings();
}

QColor TestConfig::DutyCycleColour(int duty)
{
    const int v = std::clamp(duty, 0, 100);
    if (v <= 50)
        return QColor(255, 255 * v / 50, 255 * v / 50);
    return QColor(255 * (100 - v) / 50, 255, 255 * (100 - v) / 50);
}

void TestConfig::showRecord(const _testconfig& cfg)
{
    ui->lineEditAutoTime->setText(QString::asprintf("%.2f", static_cast<double>(cfg.auto_stop_time)));
    ui->lineEditAutoCycle->setText(QString::asprintf("%d", cfg.auto_stop_cycles));
    for (const Row& row : m_rows) {
        // Both halves of the pair are set here; their link stays quiet.
        const QSignalBlocker spinBlock(row.spin);
        const QSignalBlocker sliderBlock(row.slider);
        row.spin->setValue(cfg.duty_cycle[row.slot]);
        row.slider->setValue(row.spin->value());
        row.check->setChecked(cfg.test_enabled[row.slot] != 0);
    }
    update();
}

void TestConfig::LoadPref()
{
    ui->groupBox_UpdateWindow->setVisible(QFileInfo::exists(QStringLiteral("Debug.log")));
    ui->spinBox_UpdateWindow->setValue(gUpdateWindowInterval);
    recordCopy(m_scratch, testconfig);
    showRecord(m_scratch);
}

void TestConfig::SavePref()
{
    relaxedStore(testconfig.auto_stop_time, static_cast<float>(LeadingNumber(ui->lineEditAutoTime->text())));
    relaxedStore(testconfig.auto_stop_cycles, LeadingInteger(ui->lineEditAutoCycle->text()));
    for (const Row& row : m_rows) {
        relaxedStore(testconfig.test_enabled[row.slot], static_cast<std::uint8_t>(row.check->isChecked() ? 1 : 0));
        relaxedStore(testconfig.duty_cycle[row.slot], row.spin->value());
    }
    SpreadGroupSettings();
    SaveLastUsedConfig(QFile::encodeName(m_programDir).constData());
    gUpdateWindowInterval = ui->spinBox_UpdateWindow->value();
}

void TestConfig::accept()
{
    SavePref();
    TestConfigBase::accept();
    emit configChanged();
}

void TestConfig::setAllSwitches(bool on)
{
    for (const Row& row : m_rows) {
        m_scratch.test_enabled[row.slot] = on ? 1 : 0;
        row.check->setChecked(on);
    }
}

void TestConfig::slotAllOn()
{
    setAllSwitches(true);
}

void TestConfig::slotAllOff()
{
    setAllSwitches(false);
}

void TestConfig::slotResetDefaults()
{
    KalvexTest_SetUpDefault(&m_scratch);
    showRecord(m_scratch);
}

void TestConfig::paintEvent(QPaintEvent* event)
{
    for (const Row& row : m_rows) {
        const QColor colour = DutyCycleColour(row.spin->value());
        QPalette palette = row.spin->palette();
        if (palette.color(QPalette::Button) != colour || palette.color(QPalette::Light) != colour) {
            palette.setColor(QPalette::Button, colour);
            palette.setColor(QPalette::Light, colour);
            row.spin->setPalette(palette);
        }
    }
    TestConfigBase::paintEvent(event);
}
