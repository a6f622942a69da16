#include "Window_EditMachineID.h"

#include "ResultRecord.h"

#include "ui_Window_EditMachineID_Base.h"

#include <QFile>
#include <QPushButton>

#include <cstring>

namespace {

// Whole characters only: a multi-byte character cut in half would leave
// bytes that no longer decode.
QByteArray toFieldBytes(const QString& text, qsizetype maxBytes)
{
    QString kept = text.left(maxBytes);
    QByteArray bytes = kept.toLocal8Bit();
    while (bytes.size() > maxBytes) {
        const qsizetype n = kept.size();
        const bool pair = n >= 2 && kept.at(n - 1).isLowSurrogate() && kept.at(n - 2).isHighSurrogate();
        kept.chop(pair ? 2 : 1);
        bytes = kept.toLocal8Bit();
    }
    return bytes;
}

template <std::size_t N> QString fromField(const char (&field)[N])
{
    // A field loaded from disk may lack its NUL.
    return QString::fromLocal8Bit(field, static_cast<qsizetype>(::strnlen(field, N)));
}

} // namespace

Window_EditMachineID::Window_EditMachineID(const QString& programDir, QWidget* parent)
    : Window_EditMachineID_Base(parent)
    , m_programDir(programDir)
{
    connect(ui->pushButtonOK, &QPushButton::clicked, this, &Window_EditMachineID::accept);
    connect(ui->pushButtonCancel, &QPushButton::clicked, this, &Window_EditMachineID::reject);
    connect(ui->pushButtonSaveAsDefaults, &QPushButton::clicked, this, &Window_EditMachineID::slotSaveAsDefaults);
    LoadPref();
}

void Window_EditMachineID::LoadPref()
{
    ui->lineEdit_MachineType->setText(fromField(resultfile.machine_type));
    ui->lineEdit_SerialNumber->setText(fromField(resultfile.machine_serial));
    ui->textEditAdditionalNotes->setPlainText(fromField(resultfile.notes));
}

void Window_EditMachineID::SavePref()
{
    const QByteArray type = toFieldBytes(ui->lineEdit_MachineType->text(), sizeof resultfile.machine_type - 1);
    const QByteArray serial = toFieldBytes(ui->lineEdit_SerialNumber->text(), sizeof resultfile.machine_serial - 1);
    const QByteArray notes = toFieldBytes(ui->textEditAdditionalNotes->toPlainText(), sizeof resultfile.notes - 1);
    SetMachineId(type.toStdString(), serial.toStdString(), notes.toStdString());
}

void Window_EditMachineID::accept()
{
    SavePref();
    Window_EditMachineID_Base::accept();
    emit machineIdChanged();
}

void Window_EditMachineID::slotSaveAsDefaults()
{
    SavePref();
    save_machineid(QFile::encodeName(m_programDir).constData());
    // The base accept: the override would store the texts a second time.
    Window_EditMachineID_Base::accept();
    emit machineIdChanged();
}
