// The help commands: the user guide in the program directory, documents
// shown by an external viewer, and web pages shown by a browser.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Starts `program` with `args` as a separate process; true when it started.
using ProgramLauncher = std::function<bool(const QString& program, const QStringList& args)>;

// Replaces the launcher (an empty one restores QProcess::startDetached) and
// returns the previous one, so tests can watch what would be started.
ProgramLauncher SetProgramLauncher(ProgramLauncher launcher);

// Viewers and browsers tried in order; xdg-open last reaches the desktop's
// own choice when none of the named programs is installed.
inline constexpr const char* kDocumentViewers = "kpdf:kghostview:ggv:xdg-open";
inline constexpr const char* kDefaultBrowsers = "mozilla:netscape:firefox:konqueror:xdg-open";

// The newest regular file in `programDir` named "kvxhelp*" (any case) whose
// extension is exactly ".pdf"; `programDir`/kvxhelp.pdf when there is none.
// An unreadable directory is reported on standard error.
QString FindUserGuide(const QString& programDir);

// Opens `path` in the first viewer that starts. A missing file or no viewer
// gives a box; returns true when a viewer started. GUI thread.
bool openDocument(const QString& path);

// Opens `url` in the first browser of $BROWSER (when set and not empty,
// taken as given) or of kDefaultBrowsers that starts; otherwise a box.
// GUI thread.
bool goToURL(const QString& url);

// The help command: openDocument(FindUserGuide(programDir)).
bool OpenUserGuide(const QString& programDir);
