#include "CommandLine.h"
#include "KVXMainApp.h"
#include "QtMessageSink.h"
#include "RunControl.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>

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

    QApplication app(argc, argv);
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
