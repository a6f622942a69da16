// Edits the machine type, serial number and notes held in resultfile. The
// main window keeps one modeless instance for the life of the program and
// calls LoadPref() before showing it.
#pragma once

#include "Window_EditMachineID_Base.h"

#include <QString>

class Window_EditMachineID : public Window_EditMachineID_Base {
    Q_OBJECT

public:
    // `programDir` is where "machineid.dat" is saved by "Save as defaults".
    explicit Window_EditMachineID(const QString& programDir, QWidget* parent = nullptr);

    // resultfile's texts into the widgets.
    void LoadPref();
    // The widgets' texts into resultfile, cut to fit its fields.
    void SavePref();

public slots:
    // Keeps the edits for this run only; "machineid.dat" is left alone.
    void accept() override;
    // Keeps the edits and also writes them to "machineid.dat".
    void slotSaveAsDefaults();

signals:
    // resultfile's machine texts may have changed: the result sheet title
    // and notes label need refreshing.
    void machineIdChanged();

private:
    QString m_programDir;
};
