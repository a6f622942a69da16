// The test selection and duty cycle dialog: switches each test group on or
// off, sets its duty cycle and the auto-stop limits. The main window keeps
// one modeless instance for the life of the program and calls LoadPref()
// before showing it. GUI thread only.
#pragma once

#include "ConfigRecord.h"
#include "TestConfigBase.h"

#include <QColor>
#include <QString>

#include <array>

class QCheckBox;
class QSlider;
class QSpinBox;

class TestConfig : public TestConfigBase {
    Q_OBJECT

public:
    // `programDir` is where "LastUsed.cfg" is saved. Spreads the group
    // settings already in testconfig to the groups' member slots.
    explicit TestConfig(const QString& programDir, QWidget* parent = nullptr);

    // testconfig and the window update interval into the widgets.
    void LoadPref();
    // The widgets into testconfig, spread to the member slots, saved as
    // "LastUsed.cfg"; then the window update interval.
    void SavePref();

    // The tint of a duty cycle spin box: red at 1, white at 50, green at 100.
    static QColor DutyCycleColour(int duty);

public slots:
    void accept() override;
    void slotAllOn();
    void slotAllOff();
    void slotResetDefaults();

signals:
    // testconfig was changed and saved: the main window needs refreshing.
    void configChanged();

protected:
    // Tints the spin boxes from their values.
    void paintEvent(QPaintEvent* event) override;

private:
    struct Row {
        QCheckBox* check;
        QSlider* slider;
        QSpinBox* spin;
        int slot; // the group's switch slot
    };

    // The auto-stop fields, duty cycles and switches of `cfg` into the widgets.
    void showRecord(const _testconfig& cfg);
    void setAllSwitches(bool on);

    QString m_programDir;
    std::array<Row, 9> m_rows;
    // All On, All Off and Reset Defaults work on this copy. It is the
    // dialog's own, so opening this dialog never disturbs the edits of the
    // preferences dialog.
    _testconfig m_scratch {};
};

// Spreads the network, CD/DVD and serial group duty cycles and switches of
// testconfig to the groups' member slots: addresses 28..31 take the network
// duty cycle; each detected drive and each listed serial port takes its
// group's duty cycle and is switched on with its group unless its test
// mode is "NO TEST" or it is not in the port list. GUI thread.
void SpreadGroupSettings();
