// The built program on an X display that offers no OpenGL (no GLX in the
// server, no EGL driver): the 3D test is recorded as not possible and the
// run goes on with the 2D test.
#include "ConfigRecord.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Starts `argv` with the working directory `dir`, output to `out` (if any)
// and the environment changes `env`.
pid_t spawn(const std::vector<const char*>& argv, const std::string& dir, const char* out,
    const std::vector<std::pair<const char*, std::string>>& env = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        for (const auto& [name, value] : env)
            ::setenv(name, value.c_str(), 1);
        if (out && std::freopen(out, "w", stdout))
            ::dup2(::fileno(stdout), 2);
        std::vector<char*> args;
        for (const char* a : argv)
            args.push_back(const_cast<char*>(a));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

TEST(NoOpenGLDisplay, ThreeDIsRecordedAs206AndTheRunGoesOn)
{
    TempDir dir;
    // Our own X server without GLX; it writes its display number when ready.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string fd = std::to_string(fds[1]);
    const pid_t xvfb = spawn(
        { "Xvfb", "-displayfd", fd.c_str(), "-extension", "GLX", "-screen", "0", "1024x768x24", "-nolisten", "tcp" },
        dir.path(), nullptr);
    ::close(fds[1]);
    char number[16] = {};
    const ssize_t got = ::read(fds[0], number, sizeof number - 1);
    ::close(fds[0]);
    if (got <= 0) {
        ::kill(xvfb, SIGTERM), ::waitpid(xvfb, nullptr, 0);
        GTEST_SKIP() << "Xvfb could not be started";
    }
    const std::string display = ":" + std::string(number, std::strcspn(number, "\n"));

    for (const auto& e : fs::directory_iterator(KVX_BIN_DIR))
        if (e.is_regular_file())
            fs::copy_file(e.path(), fs::path(dir.path()) / e.path().filename());
    _testconfig cfg = ValidConfig();
    std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
    cfg.test_enabled[kSlot2D] = cfg.test_enabled[kSlot3D] = 1;
    cfg.duty_cycle[kSlot2D] = cfg.duty_cycle[kSlot3D] = 100;
    cfg.auto_stop_time = 0.1f;
    cfg.logging_enabled = 1;
    WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg));

    // No EGL driver either: Mesa would otherwise give Qt OpenGL through EGL
    // on an X server without GLX.
    const pid_t program = spawn({ "./kalvextest", "-R", "3000" }, dir.path(), "out.txt",
        { { "DISPLAY", display }, { "QT_QPA_PLATFORM", "xcb" }, { "__EGL_VENDOR_LIBRARY_FILENAMES", "none.json" } });
    std::string trace;
    for (int i = 0; i < 600 && trace.find("STOP_TEST_DEBUG_FINISHES") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        trace = ReadFile(dir.file("debug.log"));
    }
    // The result banner stays up for the technician; the run itself is over.
    ::kill(program, SIGTERM), ::waitpid(program, nullptr, 0);
    ::kill(xvfb, SIGTERM), ::waitpid(xvfb, nullptr, 0);
    ASSERT_NE(trace.find("STOP_TEST_DEBUG_FINISHES"), std::string::npos) << ReadFile(dir.file("out.txt"));

    EXPECT_EQ(trace.find("Test_Thread_OpenGL"), std::string::npos) << "no 3D thread";
    EXPECT_NE(trace.find("Test_Thread_2DGraphics before pthread_exit"), std::string::npos);
    const std::string log = ReadFile(dir.file("KVX_log.log"));
    EXPECT_NE(log.find(", 3D Graphics, 3D graphics: OpenGL not available - check video driver; 3D test not run"),
        std::string::npos)
        << log;
    // The summary rows: the 2D test ran cycles, the 3D test none, with its error.
    const auto row2D = log.find("              2D Graphics   ");
    const auto row3D = log.find("              3D Graphics   ");
    ASSERT_TRUE(row2D != std::string::npos && row3D != std::string::npos) << log;
    EXPECT_EQ(log.substr(row2D + 28, 1).find_first_of("123456789"), 0u) << log.substr(row2D, 90);
    const std::string line3D = log.substr(row3D, log.find('\n', row3D) - row3D);
    EXPECT_EQ(line3D.substr(28, 9), "0        ") << line3D;
    EXPECT_NE(line3D.find("1        3D graphics: OpenGL not available"), std::string::npos) << line3D;
}

} // namespace
