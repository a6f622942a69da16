#include "CommandLine.h"
#include "KVXMainApp.h"
#include "QtMessageSink.h"
#include "RunControl.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <QApplication>
#include <xcb/xcb.h>

namespace {

using XConnection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;

const char* NonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// The value of Qt's own option `-name VALUE`, which takes precedence over
// the environment.
const char* QtOption(int argc, char** argv, const char* name)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (argv[i][0] == '-' && std::strcmp(argv[i] + (argv[i][1] == '-' ? 2 : 1), name) == 0)
            return argv[i + 1];
    return nullptr;
}

// True when one of the platforms Qt is told to try needs no display
// (offscreen, minimal, vnc, linuxfb, eglfs, ...).
bool PlatformNeedsNoDisplay(const char* platforms)
{
    if (!platforms)
        return false;
    const std::string list(platforms);
    for (std::size_t at = 0; at <= list.size();) {
        std::size_t end = list.find(';', at);
        if (end == std::string::npos)
            end = list.size();
        const std::string name = list.substr(at, std::min(list.find(':', at), end) - at);
        if (!name.empty() && name != "xcb" && name.rfind("wayland", 0) != 0)
            return true;
        at = end + 1;
    }
    return false;
}

// Without a display Qt aborts with a core dump; a technician over ssh gets
// one line saying what to do instead. The X connection, when there is one,
// stays open until Qt has its own: an Xvfb without -noreset resets when its
// last client leaves and would refuse Qt in that moment.
bool DisplayAvailable(int argc, char** argv, XConnection& x)
{
    const char* platform = QtOption(argc, argv, "platform");
    if (PlatformNeedsNoDisplay(platform ? platform : NonEmptyEnv("QT_QPA_PLATFORM")))
        return true;
    const char* display = QtOption(argc, argv, "display");
    if (!display)
        display = NonEmptyEnv("DISPLAY");
    if (!display) {
        if (NonEmptyEnv("WAYLAND_DISPLAY"))
            return true;
        std::fputs("kalvextest: no display (DISPLAY and WAYLAND_DISPLAY are unset); for a burn-in without one "
                   "run kalvextest-cli, or run this program under xvfb-run\n",
            stderr);
        return false;
    }
    // Wayland is Qt's to connect to.
    if (NonEmptyEnv("WAYLAND_DISPLAY"))
        return true;
    x.reset(xcb_connect(display, nullptr));
    if (xcb_connection_has_error(x.get())) {
        std::fprintf(stderr,
            "kalvextest: cannot connect to display %s; for a burn-in without one run kalvextest-cli, or run this "
            "program under xvfb-run\n",
            display);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // -v and --help must answer without a display (a technician over ssh),
    // so they are handled before the toolkit connects to one.
    if (CommandLineRequestsInfo(argc, argv)) {
        StartupOptions opts;
        ParseCommandLine(argc, argv, opts, stdout);
        if (opts.versionRequested || opts.helpRequested)
            return 0;
    }
    XConnection probe(nullptr, &xcb_disconnect);
    if (!DisplayAvailable(argc, argv, probe))
        return 2;

    QApplication app(argc, argv);
    probe.reset();
    QtMessageSink sink;
    SetMessageSink(&sink);

    mainWin = new KVXMainApp(argc, argv);
    mainWin->show();
    const int rc = app.exec();
    // The run outlives the window: the program never frees it.
    const Run& run = mainWin->run();
    delete mainWin;
    mainWin = nullptr;
    SetMessageSink(nullptr);
    // A test thread abandoned at the stop may still run: no global may be
    // destroyed under it.
    if (AnyTestThreadAlive(run)) {
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
