// The built program on an X display with no OpenGL (no GLX, no EGL driver):
// the 3D test is recorded as not possible and the run goes on with the 2D.
#include "ConfigRecord.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(NoOpenGLDisplay, ThreeDIsRecordedAs206AndTheRunGoesOn)
{
    TempDir dir;
    const auto spawn = [&](const std::string& command) { // `exec`: the pid is the command's own
        pid_t pid = -1;
        const char* argv[] = { "sh", "-c", command.c_str(), nullptr };
        posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
        return pid;
    };
    // Our own X server without GLX; it writes its display number when ready.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t xvfb = spawn("exec Xvfb -displayfd " + std::to_string(fds[1])
        + " -extension GLX -screen 0 1024x768x24 -nolisten tcp 2>/dev/null");
    ::close(fds[1]);
    char number[16] = {};
    ASSERT_GT(::read(fds[0], number, sizeof number - 1), 0) << "Xvfb could not be started";
    ::close(fds[0]);
    std::filesystem::copy(KVX_BIN_DIR, dir.path()); // the files, not the folders' contents
    _testconfig cfg = ValidConfig();
    std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
    cfg.test_enabled[kSlot2D] = cfg.test_enabled[kSlot3D] = 1;
    cfg.duty_cycle[kSlot2D] = cfg.duty_cycle[kSlot3D] = 100;
    cfg.auto_stop_time = 0.1f, cfg.logging_enabled = 1;
    WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg));
    // No EGL driver either: Mesa would otherwise give Qt OpenGL through EGL
    // on an X server without GLX.
    const pid_t program = spawn("cd " + dir.path() + " && DISPLAY=:" + std::string(number, std::strcspn(number, "\n"))
        + " QT_QPA_PLATFORM=xcb __EGL_VENDOR_LIBRARY_FILENAMES=none.json exec ./kalvextest -R 3000 >out.txt 2>&1");
    const auto has = [](const std::string& text, const char* what) { return text.find(what) != std::string::npos; };
    std::string trace;
    for (int i = 0; i < 600 && !has(trace, "STOP_TEST_DEBUG_FINISHES"); ++i)
        ::usleep(100000), trace = ReadFile(dir.file("debug.log"));
    // The result banner stays up for the technician; the run itself is over.
    ::kill(program, SIGTERM), ::waitpid(program, nullptr, 0);
    ::kill(xvfb, SIGTERM), ::waitpid(xvfb, nullptr, 0);
    ASSERT_TRUE(has(trace, "STOP_TEST_DEBUG_FINISHES")) << ReadFile(dir.file("out.txt"));
    EXPECT_TRUE(!has(trace, "Test_Thread_OpenGL") && has(trace, "Test_Thread_2DGraphics before pthread_exit"));
    const std::string log = ReadFile(dir.file("KVX_log.log"));
    EXPECT_TRUE(has(log, ", 3D Graphics, 3D graphics: OpenGL not available - check video driver; 3D test not run"))
        << log;
    // The summary rows: the 2D test ran cycles, the 3D test none, with its error.
    const auto row2D = log.find("              2D Graphics   "), row3D = log.find("              3D Graphics   ");
    ASSERT_TRUE(row2D != std::string::npos && row3D != std::string::npos) << log;
    EXPECT_EQ(log.substr(row2D + 28, 1).find_first_of("123456789"), 0u) << log.substr(row2D, 90);
    const std::string line3D = log.substr(row3D, log.find('\n', row3D) - row3D);
    EXPECT_TRUE(line3D.substr(28, 9) == "0        " && has(line3D, "1        3D graphics: OpenGL not available"))
        << line3D;
}
