// The preferences dialog: every per-test and logging setting that the test
// selection dialog does not edit. It works on tempConfig and, on OK, checks
// the typed values, writes the edits into testconfig, saves it as
// "LastUsed.cfg" and re-creates the log files when their settings changed.
// Its hardware health tab edits the run context's HealthSettings, saved in
// their own file beside "LastUsed.cfg".
// The main window keeps one modeless instance for the life of the program
// and calls LoadPref() before showing it. GUI thread only.
#pragma once

#include "ConfigRecord.h"
#include "HealthSettings.h"
#include "TestPreferenceBase.h"

#include <QString>

class RunContext;

class TestPreference : public TestPreferenceBase {
    Q_OBJECT

public:
    // `programDir` is where "LastUsed.cfg" and ".accum_result.cfg" are saved.
    explicit TestPreference(const QString& programDir, QWidget* parent = nullptr);

    // The mounted table the disk candidates are refreshed from; tests hand
    // in a fixture.
    void setMountTable(const QString& path) { m_mountTable = path; }
    // The context whose health settings the dialog shows and OK replaces;
    // without one the dialog keeps them itself.
    void setRunContext(RunContext* ctx) { m_context = ctx; }

    // testconfig into tempConfig and the widgets, with a fresh list of disks;
    // the health settings into their tab.
    void LoadPref();
    // Every widget into tempConfig.
    void UpdateTempPref();
    // tempConfig's edits into testconfig, with the accumulated results and
    // log files brought in line; saved as "LastUsed.cfg".
    void SavePref();
    // With `showErrors`, finds the first bad typed value, tells the user,
    // brings its tab and field forward and returns true. Otherwise false.
    bool CheckBoundaryValues(int showErrors);

    // The edit widgets into tempConfig for the current disk and drive; the
    // enabled states and both tables brought up to date.
    void UpdateCells();
    // Both tables filled from tempConfig.
    void UpdateCellsStartUp();
    // kind 1: file option chosen; 2: pre-test option chosen; 3: network test
    // type; 4: network error option. Keeps the option pairs consistent.
    void UpdateButtonGroup(int kind, int value);
    // The name the event log file will get, in the preview label.
    void UpdateLogFileNamePreview();
    // The path a Browse answer gives: asks before using an existing file.
    void chooseLogFile(const QString& path);

    // Rows of the serial port list and the ports they show.
    struct PortRow {
        int row;
        int port;
    };
    static PortRow lookUp[kNumSerialPorts];

public slots:
    void accept() override;
    void slotUpdateCells();
    void slotSelectionChanged(int row, int col);
    void slot_CDROM_SelectionChanged(int row, int col);
    void slotUpdateButtonGroup_PreTestLog(int id);
    void slotUpdateButtonGroup_GroupOption(int id);
    void slotUpdateButtonGroup_NetworkErrorOption(int id);
    void slotUpdateButtonGroup_NetworkTestType(int id);
    void slotUpdateLogFileNamePreview();
    void slotLogFileNameTextChanged();
    void slotLogging_Browse();
    void slot_SerialPort_AddPort();
    void slot_SerialPort_RemovePort();

signals:
    // testconfig was changed and saved: the main window needs refreshing.
    void configChanged();
    // The Help button was pressed.
    void helpRequested();

private:
    void storeDiskRow(int row);
    void showDiskRow(int row);
    void storeCdRow(int row);
    void showCdRow(int row);
    void setEditStates();
    void relabelClearNewOption();
    void rebuildSerialList();
    void showHealth(const HealthSettings& settings);
    void setHealthEditStates();
    // The health tab's widgets over `base`.
    HealthSettings editedHealth(HealthSettings base) const;
    // Saves the health tab as the file and the context's settings; false,
    // with the box shown, when the file cannot be written.
    bool saveHealth();

    QString m_programDir;
    QString m_mountTable = QStringLiteral("/etc/mtab");
    RunContext* m_context = nullptr;
    HealthSettings m_health = DefaultHealthSettings();
    // Set when the log file's directory, name or format is changed.
    bool logChanged = false;
    // Set while widgets are filled from the record, so that filling them
    // does not count as editing.
    bool m_loading = false;
    // The rows the edit widgets show; -1 when the table is empty.
    int m_diskRow = -1;
    int m_cdRow = -1;
    // testconfig as it was loaded: only what differs from it in tempConfig
    // are the user's edits.
    _testconfig m_loaded {};
};
