// The built program started with a prepared configuration and -R on an X
// display with no OpenGL (no GLX, no EGL driver): the 3D test is recorded as
// not possible, and the 2D run stops by itself and reports.
#include "ConfigRecord.h"
#include "DesktopDriver.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <spawn.h>

TEST(NoOpenGLDisplay, ThreeDIsRecordedAs206AndTheRunStopsByItselfAndReports)
{
    // Our own X server without GLX; it writes its display number when ready.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string xvfbCommand = "exec Xvfb -displayfd " + std::to_string(fds[1])
        + " -extension GLX -screen 0 1024x768x24 -nolisten tcp 2>/dev/null";
    const char* xvfbArgv[] = { "sh", "-c", xvfbCommand.c_str(), nullptr };
    pid_t xvfb = -1;
    ASSERT_EQ(::posix_spawn(&xvfb, "/bin/sh", nullptr, nullptr, const_cast<char**>(xvfbArgv), environ), 0);
    ::close(fds[1]);
    char number[16] = {};
    ASSERT_GT(::read(fds[0], number, sizeof number - 1), 0) << "Xvfb could not be started";
    ::close(fds[0]);

    ProgramDir prog;
    _testconfig cfg = ValidConfig();
    std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
    cfg.test_enabled[kSlot2D] = cfg.test_enabled[kSlot3D] = 1;
    cfg.duty_cycle[kSlot2D] = cfg.duty_cycle[kSlot3D] = 100;
    cfg.auto_stop_time = 0.1f, cfg.logging_enabled = 1;
    prog.writeConfig(cfg);
    // No EGL driver either: Mesa would otherwise give Qt OpenGL through EGL
    // on an X server without GLX.
    prog.start({ { "-R", "3000" },
        { "DISPLAY=:" + std::string(number, std::strcspn(number, "\n")), "QT_QPA_PLATFORM=xcb",
            "__EGL_VENDOR_LIBRARY_FILENAMES=none.json" } });
    const std::string trace = prog.waitForText("debug.log", "STOP_TEST_DEBUG_FINISHES", 60);
    // The banner stays up for the technician; the run itself is over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    prog.stop();
    ::kill(xvfb, SIGTERM), ::waitpid(xvfb, nullptr, 0);
    ASSERT_NE(trace.find("STOP_TEST_DEBUG_FINISHES"), std::string::npos) << prog.out();
    for (const std::string& line :
        std::vector<std::string> { "Test stopped automatically", "Test_Thread_2DGraphics before pthread_exit",
            "Test Configured[" + std::to_string(kSlot2D) + "]: 2D Graphics" })
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    EXPECT_EQ(trace.find("Test_Thread_OpenGL"), std::string::npos);

    const std::string log = ReadFile(prog.dir.file("KVX_log.log"));
    for (const char* line : { "Completed started test run", "Test run stopped", "RESULT SUMMARY",
             ", 3D Graphics, 3D graphics: OpenGL not available - check video driver; 3D test not run" })
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << Tail(log);
    // The 2D test ran cycles, the 3D test none, with its error.
    EXPECT_GE(FindReportRow(log, "2D Graphics").cycles, 1) << Tail(log);
    const ReportRow row3D = FindReportRow(log, "3D Graphics");
    EXPECT_EQ(row3D.cycles, 0) << row3D.line;
    EXPECT_NE(row3D.line.find("1        3D graphics: OpenGL not available"), std::string::npos) << row3D.line;
}
