#include "Help.h"

#include "BuildInfo.h"
#include "MessageBox.h"

#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

ProgramLauncher& launcher()
{
    static ProgramLauncher current;
    return current;
}

bool launch(const QString& program, const QStringList& args)
{
    if (launcher())
        return launcher()(program, args);
    return QProcess::startDetached(program, args);
}

bool isGuideName(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    return ::strncasecmp(name, "kvxhelp", 7) == 0 && dot && std::strcmp(dot, ".pdf") == 0;
}

bool newer(const timespec& a, const timespec& b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Starts the first program of the ":"-separated list that starts; empty
// entries are skipped. `first` receives the list's first name.
bool tryPrograms(const QString& list, const QString& argument, QString* first)
{
    const QStringList programs = list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    *first = programs.value(0);
    for (const QString& program : programs)
        if (launch(program, { argument }))
            return true;
    return false;
}

} // namespace

ProgramLauncher SetProgramLauncher(ProgramLauncher next)
{
    ProgramLauncher previous = std::move(launcher());
    launcher() = std::move(next);
    return previous;
}

QString FindUserGuide(const QString& programDir)
{
    QString chosen = programDir + QStringLiteral("/kvxhelp.pdf");
    const QByteArray dirPath = QFile::encodeName(programDir);
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir) {
        std::perror("opendir");
        return chosen;
    }
    bool found = false;
    timespec latest {};
    while (const dirent* entry = ::readdir(dir)) {
        if (!isGuideName(entry->d_name))
            continue;
        struct stat st { };
        const QByteArray full = dirPath + '/' + entry->d_name;
        if (::stat(full.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (!found || newer(st.st_mtim, latest)) {
            found = true;
            latest = st.st_mtim;
            chosen = programDir + QLatin1Char('/') + QFile::decodeName(entry->d_name);
        }
    }
    ::closedir(dir);
    return chosen;
}

bool openDocument(const QString& path)
{
    // Box texts are UTF-8; the file system takes the local encoding.
    const std::string where = path.toStdString();
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        const std::string text = Format("Unable to open the document.  Ensure that you have\n%s in the same folder as "
                                        "your application.",
            where.c_str());
        // A single button: the home page branch only runs for a sink that
        // reports a second button.
        if (ShowBox(BoxIcon::Warning, "Document not found", text, { "OK" }, 0, 0) == 1)
            goToURL(QString::fromLatin1(kHomePage));
        return false;
    }
    QString first;
    if (tryPrograms(QString::fromLatin1(kDocumentViewers), path, &first))
        return true;
    const std::string text = "Unable to open the document. Ensure that you have " + first.toStdString()
        + " installed and the document " + where + " in the same folder as your application.  Please contact\n" + kMaker
        + " at " + kSupportEmail + " if you need a copy";
    ShowBox(BoxIcon::Critical, "URL error", text, { "OK" }, 0, 0);
    return false;
}

bool goToURL(const QString& url)
{
    const char* env = std::getenv("BROWSER");
    const QString list = env && *env ? QString::fromLocal8Bit(env) : QString::fromLatin1(kDefaultBrowsers);
    QString first;
    if (tryPrograms(list, url, &first))
        return true;
    ShowBox(BoxIcon::Critical, "URL error",
        "Unable to open the URL. Ensure that you have " + first.toStdString() + " installed", { "OK" }, 0, 0);
    return false;
}

bool OpenUserGuide(const QString& programDir)
{
    return openDocument(FindUserGuide(programDir));
}
