// The main window's answers to the run controller: windows, progress and
// the start and stop times. Private to the main window's sources.
#pragma once

#include "AtomicField.h"
#include "EngineInfo.h"
#include "GraphicsTests.h"
#include "KVXMainApp.h"
#include "LiveTestWindow.h"
#include "ResultRecord.h"
#include "TestSlots.h"
#include "Window_ClosingTests.h"
#include "WindowTiler.h"
#include "ui_MainWin.h"

#include <QApplication>
#include <QOpenGLContext>

#include <ctime>

// A time in ctime form without its newline.
inline QString ctimeLabel(std::time_t t)
{
    char buf[32];
    return QString::fromLocal8Bit(ctime_r(&t, buf) ? buf : "").trimmed();
}

// The GUI's side of the run controller's questions.
class KVXMainApp::RunHooks : public RunObserver {
public:
    explicit RunHooks(KVXMainApp& app)
        : m_app(app)
    {
    }
    bool openGLAvailable() override
    {
        QOpenGLContext context;
        return context.create();
    }
    void createWindow(int slot) override
    {
        // Live windows register here as the tests gain them.
        QWidget*& window = m_app.testWindow[static_cast<std::size_t>(slot)];
        if (!window)
            window = CreateGraphicsWindow(m_app.run(), slot); // slots 4 and 5 only
        if (!window && slot >= 0 && slot < kNumNamedSlots)
            window = CreateTestWindow(m_app.run(), slot, SlotName(slot), &m_app);
        if (QWidget* w = window) {
            w->setGeometry(m_app.m_tiler->place(w->width(), w->height()));
            w->show();
        }
    }
    void testStarted(int slot, bool first) override
    {
        if (first)
            m_app.ui->startTimeLabel->setText(ctimeLabel(relaxedLoad(resultfile.run_start_time)));
        m_app.UpdateMainWindow();
        const EngineInfo* engine = EngineFor(slot);
        const bool graphics
            = engine && (engine->window == LiveWindowKind::Graphics2D || engine->window == LiveWindowKind::Graphics3D);
        if (!graphics)
            if (QWidget* w = m_app.testWindow[static_cast<std::size_t>(slot)])
                w->update();
    }
    void processEvents() override { QApplication::processEvents(); }
    void closingProgress(const std::string& text, int percent) override
    {
        if (m_app.m_closingWindow) {
            m_app.m_closingWindow->setText(QString::fromStdString(text));
            m_app.m_closingWindow->setProgress(percent);
        }
    }
    void stopTimeSet() override { m_app.ui->stopTimeLabel->setText(ctimeLabel(relaxedLoad(resultfile.run_stop_time))); }
    void deleteWindow(int slot) override
    {
        if (QWidget*& w = m_app.testWindow[static_cast<std::size_t>(slot)]) {
            w->deleteLater();
            w = nullptr;
        }
    }

private:
    KVXMainApp& m_app;
};
