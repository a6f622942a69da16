#include "TestWindow_CDROM.h"

#include "AtomicField.h"
#include "CTest_CDROM.h"
#include "ResultRecord.h"
#include "SystemInfo.h"
#include "EngineInfo.h"
#include "Run.h"
#include "ui_TestWindowCDROM_Base.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr double kMB = 1048576.0;
constexpr double kSpeedUnit = 0.1536;

const char* modeText(int mode)
{
    return mode >= 0 && mode < CTest_CDROM::kNumModes ? CTest_CDROM::PatternText[mode] : "";
}

const char* phaseText(int phase)
{
    return phase >= 0 && phase < CTest_CDROM::kNumPhases && CTest_CDROM::status_text[phase]
        ? CTest_CDROM::status_text[phase]
        : "";
}

} // namespace

double CdSpeedFactor(double mbPerSec)
{
    return std::floor(mbPerSec / kSpeedUnit + 0.5);
}

QString CdRateText(double mbPerSec)
{
    return QString::asprintf("%0.2lfMB/s %0.0fx", mbPerSec, CdSpeedFactor(mbPerSec));
}

TestWindow_CDROM::TestWindow_CDROM(
    const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowCDROM_Base(run, slot, parent, flags)
    , m_drive(EngineFor(slot)->unitOf(slot))
    , m_live(run.live<CdDvdLive>(slot))
    , m_prevTime(now())
{
    finishSetUp(QString::asprintf(
        "%s: %s", name.toLocal8Bit().constData(), gNumMMDevices > m_drive ? gMultimediaStructPtr[m_drive].alias : ""));
}

void TestWindow_CDROM::refreshLabels()
{
    const int c = m_drive;
    const _resultinfo& r = resultfile.results[slot()];
    const int mode = relaxedLoad(testconfig.cd_test_mode[c]);
    const bool audio = mode == CTest_CDROM::kModeAudio;
    setLabelText(ui->textLabel_CDROM_Heading,
        QString::asprintf(
            "%s %d: %s, Cycle %d:", SlotName(slot()), c, modeText(mode), static_cast<int>(relaxedLoad(r.cycles))));
    if (mode != m_mode) {
        m_mode = mode;
        ui->textLabel_CDROM_LabelStatus->setText(audio ? "Drive status:" : "Status:");
        ui->textLabel_CDROM_LabelCurrentFile->setText(audio ? "Current track:" : "Current file:");
        ui->textLabel_CDROM_LabelFilesScanned->setText(audio ? "Total tracks:" : "Files scanned:");
        ui->textLabel_CDROM_LabelRead->setText("Read:");
    }
    const int phase = m_live.phase.load(kRelaxed);
    setLabelText(ui->textLabel_CDROM_Status, phaseText(phase));
    if (audio) {
        setLabelText(ui->textLabel_CDROM_CurrentFile,
            QString::asprintf("%lu", static_cast<unsigned long>(m_live.track_num.load(kRelaxed))));
        setLabelText(ui->textLabel_CDROM_FilesScanned, QString::asprintf("%d", m_live.totaltracks.load(kRelaxed)));
    } else {
        const std::string file = m_live.currentFile();
        setLabelText(ui->textLabel_CDROM_CurrentFile,
            phase == CTest_CDROM::kPhaseRandomSeeking
                ? QString::asprintf("%s (B: %d)", file.c_str(), m_live.CurrentBlock.load(kRelaxed))
                : QString::fromLocal8Bit(file.c_str()));
        setLabelText(ui->textLabel_CDROM_FilesScanned, QString::asprintf("%d", m_live.Totalfiles.load(kRelaxed)));
    }

    const std::uint64_t read = m_live.op_count_read.load(kRelaxed);
    setLabelText(ui->textLabel_CDROM_Read, QString::asprintf("%0.2lf MBytes", static_cast<double>(read) / kMB));

    const timeval t = now();
    const long double intervalMs = timeval_diff_msec(&m_prevTime, &t);
    // The counter restarts with every test object; a drop is no rate.
    if (read > m_prevRead && intervalMs > 0)
        setLabelText(ui->textLabel_CDROM_Throughput,
            CdRateText(static_cast<double>(read - m_prevRead) / kMB / static_cast<double>(intervalMs / 1000)));
    m_prevRead = read;
    m_prevTime = t;

    const timeval start = m_live.updateStartTime();
    const long double sinceStartMs = timeval_diff_msec(&start, &t);
    if (start.tv_sec != 0 && read > 0 && sinceStartMs > 0)
        setLabelText(ui->textLabel_CDROM_Average,
            CdRateText(static_cast<double>(read) / kMB / static_cast<double>(sinceStartMs / 1000)));

    setLabelText(ui->textLabel_CDROM_Errors, QString::asprintf("%d", static_cast<int>(relaxedLoad(r.errors))));
}
