#include "Window_SaveTestLog.h"

#include "ui_Window_SaveTestLog_Base.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "MachineReports.h"
#include "MessageBox.h"
#include "Startup.h"
#include "WindowTiler.h"

#include <QButtonGroup>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// Drops the file name's own extension; a dot in a folder name
// ("/home/john.doe/report") is not one.
QString cutAtLastDot(const QString& name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot <= name.lastIndexOf(QLatin1Char('/')) ? name : name.left(dot);
}

} // namespace

Window_SaveTestLog::Window_SaveTestLog(QWidget* parent)
    : Window_SaveTestLog_Base(parent)
{
    setWindowTitle(QStringLiteral("Save recent results to disk"));
    auto* group = new QButtonGroup(this);
    group->addButton(ui->radioButton_TextFile, kText);
    group->addButton(ui->radioButton_HTMLFile, kHtml);
    connect(group, &QButtonGroup::idClicked, this, &Window_SaveTestLog::slotUpdateButtonGroup_FileFormat);
    connect(ui->pushButton_Browse, &QPushButton::clicked, this, &Window_SaveTestLog::slotBrowse);
    CentreOnDesktop(this);
    m_format = relaxedLoad(testconfig.log_file_format) == kHtml ? kHtml : kText;
    setFileName(DefaultFileName(relaxedLoad(testconfig.log_file_format)));
    UpdateWindow();
}

QString Window_SaveTestLog::DefaultFileName(int format)
{
    QString dir = QString::fromLocal8Bit(testconfig.log_directory);
    if (dir.isEmpty()) {
        char cwd[4096];
        dir = ::getcwd(cwd, sizeof cwd) ? QString::fromLocal8Bit(cwd) : QStringLiteral(".");
    }
    QString base = QString::fromLocal8Bit(testconfig.log_file_name);
    if (base.isEmpty())
        base = QStringLiteral("KVX_log");
    base = cutAtLastDot(base);
    if (relaxedLoad(testconfig.log_file_option) == 1) {
        const std::time_t now = std::time(nullptr);
        tm local {};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "_%Y%m%d_%H%M%S", &local);
        base += QString::fromLatin1(stamp);
    }
    const QString prefix = QString::fromLocal8Bit(testconfig.log_prefix);
    return dir + QLatin1Char('/') + prefix + base + (format == kText ? QStringLiteral(".log") : QStringLiteral(".htm"));
}

void Window_SaveTestLog::setFileName(const QString& name)
{
    const QByteArray bytes = QFile::encodeName(name);
    std::snprintf(m_fileName, sizeof m_fileName, "%s", bytes.constData());
}

QString Window_SaveTestLog::withFormatExtension(const QString& name) const
{
    return cutAtLastDot(name) + (m_format == kHtml ? QStringLiteral(".html") : QStringLiteral(".log"));
}

void Window_SaveTestLog::UpdateWindow()
{
    ui->lineEdit_FileName->setText(fileName());
    ui->radioButton_TextFile->setChecked(m_format != kHtml);
    ui->radioButton_HTMLFile->setChecked(m_format == kHtml);
}

void Window_SaveTestLog::slotUpdateButtonGroup_FileFormat(int id)
{
    m_format = id;
    // What the user typed counts as the current name.
    setFileName(withFormatExtension(ui->lineEdit_FileName->text()));
    UpdateWindow();
}

QString Window_SaveTestLog::askSaveFileName(const QString& filter)
{
    return QFileDialog::getSaveFileName(
        this, QStringLiteral("Select file"), QStringLiteral("."), filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

void Window_SaveTestLog::slotBrowse()
{
    const QString chosen = askSaveFileName(
        m_format == kHtml ? QStringLiteral("Log files (*.html)") : QStringLiteral("Log files (*.log)"));
    if (chosen.isEmpty())
        return;
    if (QFileInfo::exists(chosen)) {
        const std::string text
            = "File " + QFile::encodeName(chosen).toStdString() + " already exists.\nDo you want to overwrite it?";
        if (ShowBox(BoxIcon::Warning, "Overwrite File? -- KalvexTest", text, { "&Yes", "&No" }, 0, 1) != 0)
            return;
    }
    setFileName(withFormatExtension(chosen));
    UpdateWindow();
}

void Window_SaveTestLog::accept()
{
    const QString name = ui->lineEdit_FileName->text();
    const QByteArray path = QFile::encodeName(name);
    if (name.isEmpty())
        return;
    if (QFileInfo::exists(name)) {
        if (ShowBox(BoxIcon::Warning, "File exits", Format("%s exists, do you want to overwrite?", path.constData()),
                { "Overwrite", "Cancel" }, 0, 1)
            != 0)
            return;
    }
    const int err = fileSaveTestLog(m_format, path.constData());
    if (err == 0) {
        setFileName(name);
        Window_SaveTestLog_Base::accept();
        return;
    }
    const int answer = ShowBox(BoxIcon::Warning, "Error Saving File",
        Format("%s: %s", path.constData(), std::strerror(err)), { "Retry", "Cancel" }, 0, 1);
    if (answer == 0)
        UpdateWindow();
}

int Window_SaveTestLog::fileSaveTestLog(int format, const char* path)
{
    FILE* file = std::fopen(path, "w+");
    if (!file) {
        const int err = errno;
        DPrintf("%s[%d]: fopen: strerror(%d):%s\n", __func__, __LINE__, err, std::strerror(err));
        return err;
    }
    if (gLogger)
        WriteTestLogReport(*gLogger, file, format == kHtml);
    std::fflush(file);
    const int writeError = std::ferror(file) ? errno : 0;
    std::rewind(file);
    if (std::fclose(file) != 0 || writeError)
        return writeError ? writeError : errno;
    return 0;
}
