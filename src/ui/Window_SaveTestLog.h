// The dialog that saves the current results (system information, event log
// and result summary) as a text or HTML result log.
#pragma once

#include "Window_SaveTestLog_Base.h"

#include <QString>

class Window_SaveTestLog : public Window_SaveTestLog_Base {
    Q_OBJECT

public:
    static constexpr int kText = 1;
    static constexpr int kHtml = 2;

    explicit Window_SaveTestLog(QWidget* parent = nullptr);

    // Shows the stored file name and format in the widgets.
    void UpdateWindow();

    // Writes the result log for `format` (2 HTML, any other text) to `path`,
    // created or emptied. Returns 0 or the system's error number.
    static int fileSaveTestLog(int format, const char* path);

    // The default name from the logging settings: directory, prefix, base
    // (time-stamped when configured), ".log" or ".htm".
    static QString DefaultFileName(int format);

    QString fileName() const { return QString::fromLocal8Bit(m_fileName); }
    int format() const { return m_format; }

public Q_SLOTS:
    void slotBrowse();
    void slotUpdateButtonGroup_FileFormat(int id);
    void accept() override;

protected:
    // The file chooser of Browse; empty when the user cancels. A seam for tests.
    virtual QString askSaveFileName(const QString& filter);

private:
    void setFileName(const QString& name);
    // `name` without its extension, with the format's extension.
    QString withFormatExtension(const QString& name) const;

    char m_fileName[400] {};
    int m_format = kText;
};
