#include "TestPreference.h"

#include "CTest_CDROM.h"
#include "CTest_Disk.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "DialogFields.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "RunContext.h"
#include "Startup.h"
#include "SystemInfo.h"

#include "ui_TestPreferenceBase.h"

#include <QButtonGroup>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

TestPreference::PortRow TestPreference::lookUp[kNumSerialPorts];

namespace {

// The engines' own mode names, as the tables show them.
const auto& kDiskModes = CTest_Disk::PatternText;
const auto& kCdModes = CTest_CDROM::PatternText;
constexpr int kCdNoTest = 0;
constexpr int kCdReferenceDisc = 3;

// The serial speed table, by index; the two sweep settings sit after the
// speed they sweep up to.
const char* const kSerialSpeeds[] = {
    "110",
    "300",
    "600",
    "1200",
    "2400",
    "4800",
    "9600",
    "19200",
    "38400",
    "57600",
    "115200",
    "300 - 115200 (cycling)",
    "230400",
    "300 - 230400 (cycling)",
};

constexpr double kMinFileSizePct = 0.1;
constexpr double kMaxFileSizePct = 15.0;
constexpr int kMinTimeoutMs = 1;
constexpr int kMaxTimeoutMs = 30000;
constexpr int kMinBadPacketRatio = 1;
constexpr int kMaxBadPacketRatio = 99;

const char* const kClearNewSingle = "Clear test results and create new (or overwrite existing) log file";
const char* const kClearNewMultiple = "Clear test results and create new time-stamped log files";

int diskCount()
{
    return std::clamp(relaxedLoad(gNumMntPoints), 0, kNumDisks);
}

int driveCount()
{
    return std::clamp(relaxedLoad(gNumMMDevices), 0, kNumCdDrives);
}

bool fileSizeValid(double pct)
{
    return pct >= kMinFileSizePct && pct <= kMaxFileSizePct;
}

void setComboIndex(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : 0);
}

// Selects the button of `id`, or of `fallback` for a value no button has.
void checkId(QButtonGroup* group, int id, int fallback)
{
    QAbstractButton* button = group->button(id);
    if (!button)
        button = group->button(fallback);
    if (button)
        button->setChecked(true);
}

// A drive tested in "NO TEST" mode takes no part; any other mode follows
// the CD/DVD group's switch.
void applyDriveSwitch(_testconfig& cfg, int drive)
{
    cfg.test_enabled[kSlotCdFirst + drive] = cfg.cd_test_mode[drive] != kCdNoTest ? cfg.test_enabled[kSlotCdGroup] : 0;
}

// Writes into `target` each byte in which `edited` differs from `base`, so
// that what changed in `target` meanwhile (the event log's counters, the
// other dialog's settings, the category view) is kept. Whole words are
// stored, so a test thread never reads a half-written field.
void applyEdits(_testconfig& target, const _testconfig& base, const _testconfig& edited)
{
    static_assert(sizeof(_testconfig) % 4 == 0);
    auto* t = reinterpret_cast<std::uint32_t*>(&target);
    const auto* b = reinterpret_cast<const std::uint32_t*>(&base);
    const auto* e = reinterpret_cast<const std::uint32_t*>(&edited);
    for (std::size_t i = 0; i < sizeof(_testconfig) / 4; ++i) {
        const std::uint32_t changed = b[i] ^ e[i];
        if (!changed)
            continue;
        std::uint32_t mask = 0;
        for (int byte = 0; byte < 4; ++byte)
            if ((changed >> (8 * byte)) & 0xFFu)
                mask |= 0xFFu << (8 * byte);
        relaxedStore(t[i], (relaxedLoad(t[i]) & ~mask) | (e[i] & mask));
    }
}

QString baseNameOf(const QString& path)
{
    QString base = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        base.truncate(dot);
    return base;
}

QString directoryOf(const QString& path, qsizetype slash)
{
    // "/name" lives in the root directory, not in an empty one.
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

TestPreference::TestPreference(const QString& programDir, QWidget* parent)
    : TestPreferenceBase(parent)
    , m_programDir(programDir)
{
    for (const char* mode : kDiskModes)
        ui->comboBoxTestMode->addItem(QString::fromLatin1(mode));
    for (const char* mode : kCdModes)
        ui->comboBox_CDROM_TestMode->addItem(QString::fromLatin1(mode));
    for (const char* speed : kSerialSpeeds)
        ui->comboBox_SerialPort_Baudrate->addItem(QString::fromLatin1(speed));
    ui->lineEdit_Disk_FileSize->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("((1[0-4]|[0-9])\\.[1-9]{0,1})|15")), ui->lineEdit_Disk_FileSize));
    ui->radioButton_SerialPort_DetectLoopback->setChecked(true);
    ui->lineEdit_SerialPort_PortPrefix->setReadOnly(true);
    for (QTableWidget* table : { ui->tableDiskSelect, ui->table_CDROM_Select })
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int p = 0; p < kNumSerialPorts; ++p)
        lookUp[p] = { -1, -1 };

    connect(ui->tableDiskSelect, &QTableWidget::currentCellChanged, this,
        [this](int row, int col, int, int) { slotSelectionChanged(row, col); });
    connect(ui->checkBoxDiskSelect, &QCheckBox::toggled, this, &TestPreference::slotUpdateCells);
    connect(ui->comboBoxTestMode, &QComboBox::currentIndexChanged, this, &TestPreference::slotUpdateCells);
    connect(ui->lineEdit_Disk_FileSize, &QLineEdit::textChanged, this, &TestPreference::slotUpdateCells);
    connect(ui->spinBoxDutyCycleOverride, &QSpinBox::valueChanged, this, &TestPreference::slotUpdateCells);
    connect(ui->spinBoxSeekCount, &QSpinBox::valueChanged, this, &TestPreference::slotUpdateCells);

    // The option pair is settled before the preview is drawn from it.
    connect(ui->buttonGroupOption, &QButtonGroup::idClicked, this, &TestPreference::slotUpdateButtonGroup_PreTestLog);
    connect(
        ui->buttonGroupPreTestLog, &QButtonGroup::idClicked, this, &TestPreference::slotUpdateButtonGroup_GroupOption);
    connect(ui->buttonGroupOption, &QButtonGroup::idClicked, this, &TestPreference::slotUpdateLogFileNamePreview);
    connect(ui->buttonGroupPreTestLog, &QButtonGroup::idClicked, this, &TestPreference::slotUpdateLogFileNamePreview);
    connect(ui->lineEditPrefix, &QLineEdit::textChanged, this, &TestPreference::slotUpdateLogFileNamePreview);
    connect(ui->lineEditFileName, &QLineEdit::textChanged, this, &TestPreference::slotLogFileNameTextChanged);
    connect(ui->buttonGroupFileFormat, &QButtonGroup::idClicked, this, &TestPreference::slotLogFileNameTextChanged);
    connect(ui->pushButton_Logging_Browse, &QPushButton::clicked, this, &TestPreference::slotLogging_Browse);

    connect(ui->buttonGroupNetworkErrorOption, &QButtonGroup::idClicked, this,
        &TestPreference::slotUpdateButtonGroup_NetworkErrorOption);
    connect(ui->buttonGroupNetworkTestType, &QButtonGroup::idClicked, this,
        &TestPreference::slotUpdateButtonGroup_NetworkTestType);

    connect(ui->table_CDROM_Select, &QTableWidget::currentCellChanged, this,
        [this](int row, int col, int, int) { slot_CDROM_SelectionChanged(row, col); });
    connect(ui->comboBox_CDROM_TestMode, &QComboBox::currentIndexChanged, this, &TestPreference::slotUpdateCells);
    connect(ui->checkBox_CDROM_Seek, &QCheckBox::toggled, this, &TestPreference::slotUpdateCells);
    connect(ui->spinBox_CDROM_SeekCount, &QSpinBox::valueChanged, this, &TestPreference::slotUpdateCells);
    connect(ui->buttonGroup_CDROM_TestConfig, &QButtonGroup::idClicked, this, &TestPreference::slotUpdateCells);

    ui->spinBox_Health_ThermalLimit->setRange(0, HealthSettings::kMaxThermalLimit);
    connect(ui->checkBox_Health_Monitor, &QCheckBox::toggled, this, &TestPreference::setHealthEditStates);

    connect(ui->pushButton_SerialPort_AddPort, &QPushButton::clicked, this, &TestPreference::slot_SerialPort_AddPort);
    connect(
        ui->pushButton_SerialPort_RemovePort, &QPushButton::clicked, this, &TestPreference::slot_SerialPort_RemovePort);

    // The list beside the tabs is a second way to pick a tab.
    connect(ui->listBoxTestPreferences, &QListWidget::currentRowChanged, ui->tabTestPreferences,
        &QTabWidget::setCurrentIndex);
    connect(ui->tabTestPreferences, &QTabWidget::currentChanged, ui->listBoxTestPreferences,
        qOverload<int>(&QListWidget::setCurrentRow));

    connect(ui->buttonOk, &QPushButton::clicked, this, &TestPreference::accept);
    connect(ui->buttonCancel, &QPushButton::clicked, this, &TestPreference::reject);
    connect(ui->buttonHelp, &QPushButton::clicked, this, &TestPreference::helpRequested);
}

void TestPreference::LoadPref()
{
    logChanged = false;
    m_loading = true;

    // The scan writes the mount points of new candidates into testconfig;
    // it runs first so that the copy holds them.
    relaxedStore(
        gNumMntPoints, UpdateFileSystemStruct(gFileSystemStructPtr, QFile::encodeName(m_mountTable).constData()));
    recordClear(tempConfig);
    recordCopy(tempConfig, testconfig);
    std::memcpy(&m_loaded, &tempConfig, sizeof m_loaded);
    for (int k = 0; k < driveCount(); ++k)
        applyDriveSwitch(tempConfig, k);
    const _testconfig& c = tempConfig;

    // Disk tab.
    const int disks = diskCount();
    ui->tableDiskSelect->setRowCount(disks);
    QStringList aliases;
    for (int i = 0; i < disks; ++i)
        aliases << QString::fromLocal8Bit(gFileSystemStructPtr[i].alias);
    ui->tableDiskSelect->setVerticalHeaderLabels(aliases);
    m_diskRow = ui->tableDiskSelect->currentRow();
    if (m_diskRow < 0 || m_diskRow >= disks)
        m_diskRow = disks > 0 ? 0 : -1;
    if (m_diskRow >= 0)
        ui->tableDiskSelect->setCurrentCell(m_diskRow, 0);
    showDiskRow(m_diskRow);

    // CPU maths.
    ui->checkBoxDoInteger->setChecked(c.maths_integer != 0);
    ui->checkBoxDoFloat->setChecked(c.maths_float != 0);

    // Logging.
    ui->checkBoxLogging->setChecked(c.logging_enabled != 0);
    const QString directory = FieldText(c.log_directory);
    const QString name = FieldText(c.log_file_name);
    ui->lineEditFileName->setText(directory.isEmpty() ? name : directory + QLatin1Char('/') + name);
    ui->lineEditPrefix->setText(FieldText(c.log_prefix));
    setComboIndex(ui->comboBoxLogLevel, c.log_detail_level);
    setComboIndex(ui->comboBoxTraceLevel, c.trace_level - 2);
    ui->spinBoxLogFileSize->setValue(c.log_max_lines);
    checkId(ui->buttonGroupFileFormat, c.log_file_format, 1);
    checkId(ui->buttonGroupPreTestLog, c.pretest_log_mode, 0);
    checkId(ui->buttonGroupOption, c.log_file_option == 1 ? 1 : 0, 0);
    UpdateButtonGroup(1, c.log_file_option);
    UpdateLogFileNamePreview();

    // Network.
    UpdateButtonGroup(3, c.network_test_type);
    ui->radioButtonNetworkStandard->setChecked(true);
    QLineEdit* const addresses[]
        = { ui->lineEditAddress1, ui->lineEditAddress2, ui->lineEditAddress3, ui->lineEditAddress4 };
    QCheckBox* const addressChecks[]
        = { ui->checkBoxAddress1, ui->checkBoxAddress2, ui->checkBoxAddress3, ui->checkBoxAddress4 };
    for (int i = 0; i < kNumNetworkAddresses; ++i) {
        addresses[i]->setText(FieldText(c.network_address[i]));
        addressChecks[i]->setChecked(c.test_enabled[kSlotNetworkFirst + i] != 0);
    }
    UpdateButtonGroup(4, c.network_error_option);
    ui->lineEdit_Network_Timeout->setText(QString::asprintf("%d", c.network_timeout_ms));
    ui->lineEdit_Network_BadPktRatio->setText(
        QString::asprintf("%0.1lf", static_cast<double>(c.network_bad_packet_ratio)));

    // CD/DVD tab.
    const int drives = driveCount();
    ui->table_CDROM_Select->setRowCount(drives);
    m_cdRow = ui->table_CDROM_Select->currentRow();
    if (m_cdRow < 0 || m_cdRow >= drives)
        m_cdRow = drives > 0 ? 0 : -1;
    if (m_cdRow >= 0)
        ui->table_CDROM_Select->setCurrentCell(m_cdRow, 0);
    showCdRow(m_cdRow);
    checkId(ui->buttonGroup_CDROM_TestConfig, c.cd_autoplay, 1);

    // Serial ports.
    rebuildSerialList();
    ui->spinBox_SerialPort_Timeout->setValue(c.serial_timeout_ms);
    setComboIndex(ui->comboBox_SerialPort_Baudrate, c.serial_baud_index);
    ui->checkBox_SerialPort_RTS->setChecked(c.serial_disable_rts != 0);

    // Parallel port, errors, pre-test.
    setComboIndex(ui->comboBox_ParallelPort_PortNum, c.parallel_port_number);
    checkId(ui->buttonGroup_Parallel, c.parallel_test_mode, 0);
    checkId(ui->buttonGroup_Errors_ActionOnError, c.action_on_error, 1);
    checkId(ui->buttonGroup_PreTest, c.pretest_action, 1);

    if (m_context)
        m_health = m_context->settings<HealthSettings>();
    showHealth(m_health);

    setEditStates();
    UpdateCellsStartUp();
    m_loading = false;
}

void TestPreference::showHealth(const HealthSettings& settings)
{
    ui->checkBox_Health_Monitor->setChecked(settings.monitor);
    ui->checkBox_Health_Temperatures->setChecked(settings.temperatures);
    ui->checkBox_Health_Ecc->setChecked(settings.ecc);
    ui->checkBox_Health_KernelLog->setChecked(settings.kernelLog);
    ui->spinBox_Health_ThermalLimit->setValue(settings.thermalLimit);
    setHealthEditStates();
}

void TestPreference::setHealthEditStates()
{
    // What to watch means nothing while nothing is watched.
    const bool on = ui->checkBox_Health_Monitor->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*> { ui->checkBox_Health_Temperatures, ui->checkBox_Health_Ecc,
             ui->checkBox_Health_KernelLog, ui->textLabel_Health_ThermalLimit, ui->spinBox_Health_ThermalLimit })
        w->setEnabled(on);
}

HealthSettings TestPreference::editedHealth(HealthSettings base) const
{
    base.monitor = ui->checkBox_Health_Monitor->isChecked();
    base.temperatures = ui->checkBox_Health_Temperatures->isChecked();
    base.ecc = ui->checkBox_Health_Ecc->isChecked();
    base.kernelLog = ui->checkBox_Health_KernelLog->isChecked();
    base.thermalLimit = ui->spinBox_Health_ThermalLimit->value();
    return base;
}

bool TestPreference::saveHealth()
{
    const HealthSettings next = editedHealth(m_health);
    const std::string path = QFile::encodeName(m_programDir).toStdString() + "/" + kHealthSettingsFile;
    std::string error;
    if (!SaveHealthSettings(path, next, error)) {
        ShowBox(BoxIcon::Warning, "Hardware health",
            "The hardware health settings could not be saved:\n" + error
                + "\nThey are still in the dialog; press OK to try again or Cancel to drop them.",
            { "OK" }, 0, 0);
        return false;
    }
    m_health = next;
    if (m_context)
        m_context->setSettings(next);
    return true;
}

void TestPreference::showDiskRow(int row)
{
    const bool loading = m_loading;
    m_loading = true;
    if (row < 0) {
        ui->groupBoxDiskSelect->setTitle(tr("Edit details for drive: %1").arg(QString()));
        ui->checkBoxDiskSelect->setChecked(false);
    } else {
        const _testconfig& c = tempConfig;
        ui->groupBoxDiskSelect->setTitle(
            tr("Edit details for drive: %1").arg(QString::fromLocal8Bit(gFileSystemStructPtr[row].alias)));
        ui->lineEdit_Disk_FileSize->setText(QString::asprintf("%.1lf", c.disk_file_size_pct[row]));
        setComboIndex(ui->comboBoxTestMode, c.disk_test_mode[row]);
        ui->spinBoxDutyCycleOverride->setValue(c.disk_duty_cycle_override[row]);
        ui->spinBoxSeekCount->setValue(c.disk_seek_count[row]);
        ui->checkBoxDiskSelect->setChecked(c.test_enabled[kSlotDiskFirst + row] != 0);
    }
    m_loading = loading;
}

void TestPreference::storeDiskRow(int row)
{
    if (row < 0 || row >= kNumDisks)
        return;
    _testconfig& c = tempConfig;
    c.test_enabled[kSlotDiskFirst + row] = ui->checkBoxDiskSelect->isChecked() ? 1 : 0;
    c.disk_test_mode[row] = ui->comboBoxTestMode->currentIndex();
    c.disk_file_size_pct[row] = LeadingNumber(ui->lineEdit_Disk_FileSize->text());
    c.disk_duty_cycle_override[row] = ui->spinBoxDutyCycleOverride->value();
    c.disk_seek_count[row] = ui->spinBoxSeekCount->value();
}

void TestPreference::showCdRow(int row)
{
    const bool loading = m_loading;
    m_loading = true;
    if (row < 0) {
        ui->groupBox_CDROM_Select->setTitle(tr("Edit details for drive: %1").arg(QString()));
    } else {
        const _testconfig& c = tempConfig;
        ui->groupBox_CDROM_Select->setTitle(
            tr("Edit details for drive: %1").arg(QString::fromLocal8Bit(gMultimediaStructPtr[row].alias)));
        setComboIndex(ui->comboBox_CDROM_TestMode, c.cd_test_mode[row]);
        ui->checkBox_CDROM_Seek->setChecked((c.cd_seek[row] & kCdSeekOnBit) != 0);
        ui->spinBox_CDROM_SeekCount->setValue(c.cd_seek[row] & (kCdSeekOnBit - 1));
    }
    m_loading = loading;
}

void TestPreference::storeCdRow(int row)
{
    if (row < 0 || row >= kNumCdDrives)
        return;
    _testconfig& c = tempConfig;
    c.cd_test_mode[row] = ui->comboBox_CDROM_TestMode->currentIndex();
    c.cd_seek[row] = ui->spinBox_CDROM_SeekCount->value() | (ui->checkBox_CDROM_Seek->isChecked() ? kCdSeekOnBit : 0);
    c.cd_autoplay = ui->buttonGroup_CDROM_TestConfig->checkedId() == 0 ? 0 : 1;
    applyDriveSwitch(c, row);
}

void TestPreference::setEditStates()
{
    ui->groupBoxDiskSelect->setEnabled(m_diskRow >= 0);
    const bool diskOn = ui->checkBoxDiskSelect->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*> { ui->comboBoxTestMode, ui->lineEdit_Disk_FileSize,
             ui->spinBoxDutyCycleOverride, ui->spinBoxSeekCount, ui->spinBoxBadSectorThreshold,
             ui->checkBoxDiskLogBadSector })
        w->setEnabled(diskOn);

    ui->groupBox_CDROM_Select->setEnabled(m_cdRow >= 0);
    const int mode = ui->comboBox_CDROM_TestMode->currentIndex();
    const bool seekShown = mode == kCdNoTest || mode == kCdReferenceDisc;
    for (QWidget* w : std::initializer_list<QWidget*> { ui->textLabel_CDROM_Seek, ui->checkBox_CDROM_Seek,
             ui->textLabel_CDROM_SeekCount, ui->spinBox_CDROM_SeekCount })
        w->setVisible(seekShown);
    ui->checkBox_CDROM_Seek->setEnabled(mode == kCdReferenceDisc);
    ui->spinBox_CDROM_SeekCount->setEnabled(mode == kCdReferenceDisc && ui->checkBox_CDROM_Seek->isChecked());
}

void TestPreference::UpdateCellsStartUp()
{
    const _testconfig& c = tempConfig;
    auto put = [](QTableWidget* table, int row, int col, const QString& text) {
        QTableWidgetItem* item = table->item(row, col);
        if (!item) {
            item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            table->setItem(row, col, item);
        }
        item->setText(text);
    };

    QTableWidget* disks = ui->tableDiskSelect;
    for (int i = 0; i < std::min(disks->rowCount(), kNumDisks); ++i) {
        const bool on = c.test_enabled[kSlotDiskFirst + i] != 0;
        const int mode = c.disk_test_mode[i];
        put(disks, i, 0, on ? tr("Testing") : tr("Not testing"));
        put(disks, i, 1,
            on && mode >= 0 && mode < CTest_Disk::NumPatterns ? QString::fromLatin1(kDiskModes[mode]) : QString());
        put(disks, i, 2, on ? QString::asprintf("%.1lf", c.disk_file_size_pct[i]) : QString());
        put(disks, i, 3, QString());
        put(disks, i, 4, QString());
        put(disks, i, 5, on ? QString::asprintf("%d", c.disk_duty_cycle_override[i]) : QString());
        put(disks, i, 6, on ? QString::asprintf("%d", c.disk_seek_count[i]) : QString());
    }

    QTableWidget* drives = ui->table_CDROM_Select;
    for (int k = 0; k < std::min(drives->rowCount(), kNumCdDrives); ++k) {
        const int mode = c.cd_test_mode[k];
        const int seek = c.cd_seek[k];
        QString seeking;
        if (mode == kCdReferenceDisc)
            seeking = seek & kCdSeekOnBit ? QString::asprintf("On (%d)", seek & (kCdSeekOnBit - 1)) : tr("Off");
        put(drives, k, 0, QString::fromLocal8Bit(gMultimediaStructPtr[k].alias));
        put(drives, k, 1, mode >= 0 && mode < CTest_CDROM::kNumModes ? QString::fromLatin1(kCdModes[mode]) : QString());
        put(drives, k, 2, seeking);
        put(drives, k, 3, QString());
        put(drives, k, 4, QString());
        put(drives, k, 5, c.test_enabled[kSlotCdFirst + k] ? tr("Yes") : tr("No"));
    }
}

void TestPreference::UpdateCells()
{
    storeDiskRow(m_diskRow);
    storeCdRow(m_cdRow);
    setEditStates();
    UpdateCellsStartUp();
}

void TestPreference::slotUpdateCells()
{
    if (!m_loading)
        UpdateCells();
}

void TestPreference::slotSelectionChanged(int row, int /*col*/)
{
    if (m_loading || row < 0 || row == m_diskRow)
        return;
    storeDiskRow(m_diskRow);
    m_diskRow = row;
    showDiskRow(row);
    setEditStates();
    UpdateCellsStartUp();
}

void TestPreference::slot_CDROM_SelectionChanged(int row, int /*col*/)
{
    if (m_loading || row < 0 || row == m_cdRow)
        return;
    storeCdRow(m_cdRow);
    m_cdRow = row;
    showCdRow(row);
    setEditStates();
    UpdateCellsStartUp();
}

void TestPreference::relabelClearNewOption()
{
    ui->radioButtonLogClearNew->setText(
        tr(ui->radioButtonOptionSingle->isChecked() ? kClearNewSingle : kClearNewMultiple));
}

void TestPreference::UpdateButtonGroup(int kind, int value)
{
    switch (kind) {
    case 1:
        // Time-stamped files always go with clearing and creating new files.
        if (value == 1)
            ui->radioButtonLogClearNew->setChecked(true);
        relabelClearNewOption();
        break;
    case 2:
        // Both append modes keep to a single file.
        if (value != 2)
            ui->radioButtonOptionSingle->setChecked(true);
        relabelClearNewOption();
        break;
    case 4:
        checkId(ui->buttonGroupNetworkErrorOption, value, 1);
        ui->lineEdit_Network_BadPktRatio->setEnabled(ui->buttonGroupNetworkErrorOption->checkedId() != 0);
        break;
    default:
        break;
    }
}

void TestPreference::slotUpdateButtonGroup_PreTestLog(int id)
{
    UpdateButtonGroup(1, id);
}

void TestPreference::slotUpdateButtonGroup_GroupOption(int id)
{
    UpdateButtonGroup(2, id);
}

void TestPreference::slotUpdateButtonGroup_NetworkErrorOption(int id)
{
    UpdateButtonGroup(4, id);
}

void TestPreference::slotUpdateButtonGroup_NetworkTestType(int id)
{
    UpdateButtonGroup(3, id);
}

void TestPreference::UpdateLogFileNamePreview()
{
    QString preview = ui->lineEditPrefix->text() + baseNameOf(ui->lineEditFileName->text());
    if (ui->radioButtonOptionMultiple->isChecked()) {
        const std::time_t now = gReportClock();
        std::tm local {};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "_%Y%m%d_%H%M%S", &local);
        preview += QString::fromLatin1(stamp);
    }
    preview += ui->radioButtonFileFormatA->isChecked() ? QStringLiteral(".log") : QStringLiteral(".htm");
    ui->textLabelPrefixPreview->setText(preview);
}

void TestPreference::slotUpdateLogFileNamePreview()
{
    if (!m_loading)
        UpdateLogFileNamePreview();
}

void TestPreference::slotLogFileNameTextChanged()
{
    if (m_loading)
        return;
    const QString text = ui->lineEditFileName->text();
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0 && directoryOf(text, slash) != FieldText(tempConfig.log_directory))
        logChanged = true;
    if (baseNameOf(text) != FieldText(tempConfig.log_file_name))
        logChanged = true;
    UpdateLogFileNamePreview();
}

void TestPreference::slotLogging_Browse()
{
    // The question about an existing file is ours.
    chooseLogFile(QFileDialog::getSaveFileName(this, tr("Choose log file"), QStringLiteral("."),
        tr("Log files (*.log)"), nullptr, QFileDialog::DontConfirmOverwrite));
}

void TestPreference::chooseLogFile(const QString& path)
{
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path)) {
        const std::string text = "File " + QDir::toNativeSeparators(path).toStdString()
            + " already exists.\nDo you want to append to/overwrite it?";
        if (ShowBox(BoxIcon::Warning, "Choose log file", text, { "&Yes", "&No" }, 0, 1) != 0)
            return;
    }
    ui->lineEditFileName->setText(path);
    logChanged = true;
}

void TestPreference::rebuildSerialList()
{
    ui->listBox_SerialPort->clear();
    for (auto& entry : lookUp)
        entry = { -1, -1 };
    int row = 0;
    for (int port = 0; port < kNumSerialPorts; ++port) {
        const int mode = tempConfig.serial_port_mode[port];
        if (mode == 0)
            continue;
        ui->listBox_SerialPort->addItem(
            QString::asprintf("ttyS%d, %s", port, mode == 2 ? "Detect only" : "Loopback test"));
        lookUp[row] = { row, port };
        ++row;
    }
}

void TestPreference::slot_SerialPort_AddPort()
{
    const int port = ui->spinBox_SerialPort_PortNum->value();
    if (port < 0 || port >= kNumSerialPorts)
        return;
    const int mode = ui->buttonGroup_SerialPort_AddPort->checkedId() == 2 ? 2 : 1;
    tempConfig.serial_port_mode[port] = mode;
    tempConfig.test_enabled[kSlotSerialFirst + port] = 1;
    rebuildSerialList();
}

void TestPreference::slot_SerialPort_RemovePort()
{
    const int row = ui->listBox_SerialPort->currentRow();
    if (row < 0)
        return;
    for (const PortRow& entry : lookUp) {
        if (entry.row == row && entry.port >= 0 && entry.port < kNumSerialPorts) {
            tempConfig.serial_port_mode[entry.port] = 0;
            tempConfig.test_enabled[kSlotSerialFirst + entry.port] = 0;
            break;
        }
    }
    rebuildSerialList();
}

void TestPreference::UpdateTempPref()
{
    _testconfig& c = tempConfig;
    storeDiskRow(m_diskRow);
    storeCdRow(m_cdRow);
    c.maths_integer = ui->checkBoxDoInteger->isChecked() ? 1 : 0;
    c.maths_float = ui->checkBoxDoFloat->isChecked() ? 1 : 0;
    c.logging_enabled = ui->checkBoxLogging->isChecked() ? 1 : 0;

    const QString file = ui->lineEditFileName->text();
    if (!file.isEmpty()) {
        const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
        if (slash >= 0)
            StoreFieldText(c.log_directory, directoryOf(file, slash));
        const QString name = baseNameOf(file);
        StoreFieldText(c.log_file_name, name);
        StoreFieldText(c.trace_file_name, name);
    }
    StoreFieldText(c.log_prefix, ui->lineEditPrefix->text());
    c.log_detail_level = ui->comboBoxLogLevel->currentIndex();
    c.trace_level = ui->comboBoxTraceLevel->currentIndex() + 2;
    c.log_max_lines = ui->spinBoxLogFileSize->value();
    c.log_file_format = ui->buttonGroupFileFormat->checkedId();
    c.log_file_option = ui->buttonGroupOption->checkedId();
    c.pretest_log_mode = ui->buttonGroupPreTestLog->checkedId();

    c.network_test_type = ui->buttonGroupNetworkTestType->checkedId() != 0 ? 1 : 0;
    const QLineEdit* const addresses[]
        = { ui->lineEditAddress1, ui->lineEditAddress2, ui->lineEditAddress3, ui->lineEditAddress4 };
    const QCheckBox* const addressChecks[]
        = { ui->checkBoxAddress1, ui->checkBoxAddress2, ui->checkBoxAddress3, ui->checkBoxAddress4 };
    for (int i = 0; i < kNumNetworkAddresses; ++i) {
        StoreFieldText(c.network_address[i], addresses[i]->text());
        c.test_enabled[kSlotNetworkFirst + i] = addressChecks[i]->isChecked() ? 1 : 0;
    }
    c.network_error_option = ui->buttonGroupNetworkErrorOption->checkedId();
    c.network_timeout_ms = LeadingInteger(ui->lineEdit_Network_Timeout->text());
    c.network_bad_packet_ratio = static_cast<float>(LeadingNumber(ui->lineEdit_Network_BadPktRatio->text()));

    c.serial_disable_rts = ui->checkBox_SerialPort_RTS->isChecked() ? 1 : 0;
    c.serial_timeout_ms = ui->spinBox_SerialPort_Timeout->value();
    c.serial_baud_index = ui->comboBox_SerialPort_Baudrate->currentIndex();
    c.parallel_port_number = ui->comboBox_ParallelPort_PortNum->currentIndex();
    c.parallel_test_mode = ui->buttonGroup_Parallel->checkedId();
    c.action_on_error = ui->buttonGroup_Errors_ActionOnError->checkedId();
    c.pretest_action = ui->buttonGroup_PreTest->checkedId();
}

bool TestPreference::CheckBoundaryValues(int showErrors)
{
    if (!showErrors)
        return false;
    auto refuse = [this](QWidget* tab, QLineEdit* field, const std::string& message) {
        ShowBox(BoxIcon::Critical, "KalvexTest Error", message, { "OK" }, 0, 0);
        ui->tabTestPreferences->setCurrentWidget(tab);
        field->setFocus();
        return true;
    };

    if (m_diskRow >= 0) {
        // A bad size typed for another disk before moving on is brought back
        // into the edit, where the check below finds it.
        for (int i = 0; i < diskCount(); ++i) {
            if (i != m_diskRow && tempConfig.test_enabled[kSlotDiskFirst + i]
                && !fileSizeValid(tempConfig.disk_file_size_pct[i])) {
                ui->tableDiskSelect->setCurrentCell(i, 0);
                break;
            }
        }
        const QString size = ui->lineEdit_Disk_FileSize->text();
        if (!fileSizeValid(LeadingNumber(size)))
            return refuse(ui->tabDisk, ui->lineEdit_Disk_FileSize,
                Format("The disk test file size of %s%% is not valid.\nIt must be in the range of 0.1%% to "
                       "15.0%%.\nPlease enter a value in this range.",
                    size.toStdString().c_str()));
    }

    const QString timeout = ui->lineEdit_Network_Timeout->text();
    const int timeoutMs = LeadingInteger(timeout);
    if (timeoutMs < kMinTimeoutMs || timeoutMs > kMaxTimeoutMs)
        return refuse(ui->tabNetwork, ui->lineEdit_Network_Timeout,
            Format("The network test timeout of %s is not valid.\nIt must be in the range of %d to "
                   "%d.\nPlease enter a value in this range.",
                timeout.toStdString().c_str(), kMinTimeoutMs, kMaxTimeoutMs));

    // The integer reading bounds the top, so 99.5 is still accepted.
    const QString ratio = ui->lineEdit_Network_BadPktRatio->text();
    if (LeadingNumber(ratio) < kMinBadPacketRatio || LeadingInteger(ratio) > kMaxBadPacketRatio)
        return refuse(ui->tabNetwork, ui->lineEdit_Network_BadPktRatio,
            Format("The network test bad packet ratio of %s%% is not valid.\nIt must be in the range of %d "
                   "to %d.\nPlease enter a value in this range.",
                ratio.toStdString().c_str(), kMinBadPacketRatio, kMaxBadPacketRatio));
    return false;
}

void TestPreference::accept()
{
    if (CheckBoundaryValues(1))
        return;
    // First, so that a failed save leaves every edit in the open dialog.
    if (!saveHealth())
        return;
    SavePref();
    TestPreferenceBase::accept();
    emit configChanged();
}

void TestPreference::SavePref()
{
    UpdateTempPref();
    const _testconfig& next = tempConfig;
    const QByteArray dir = QFile::encodeName(m_programDir);

    // Leaving the accumulate mode drops what was accumulated, on disk too,
    // so that a restart does not bring it back.
    if (relaxedLoad(testconfig.pretest_log_mode) == 1 && next.pretest_log_mode != 1) {
        ClearCurrentResults();
        ClearAccumulatedResults();
        auto snapshot = std::make_unique<_resultfile>();
        recordCopy(*snapshot, resultfile);
        const std::string path = dir.toStdString() + "/.accum_result.cfg";
        BinaryDataSave(path.c_str(), snapshot.get(), sizeof(_resultfile), 1);
    }

    bool recreate = logChanged;
    if (relaxedLoad(testconfig.logging_enabled) == 0) {
        recreate = next.logging_enabled == 1;
    } else if (next.logging_enabled == 0) {
        recreate = false;
    } else {
        const int oldTrace = relaxedLoad(testconfig.trace_level);
        if (next.log_file_format != relaxedLoad(testconfig.log_file_format))
            recreate = true;
        if (oldTrace == 2 && next.trace_level >= 3)
            recreate = true;
        if (next.pretest_log_mode == 2 && next.log_file_option != relaxedLoad(testconfig.log_file_option))
            recreate = true;
    }

    applyEdits(testconfig, m_loaded, tempConfig);
    std::memcpy(&m_loaded, &tempConfig, sizeof m_loaded);

    if (recreate && gLogger) {
        relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
        relaxedStore(testconfig.trace_header_written, std::uint8_t { 0 });
        gLogger->CreateLogFile(gFollowConfigLogPath);
    }
    SaveLastUsedConfig(dir.constData());
}
