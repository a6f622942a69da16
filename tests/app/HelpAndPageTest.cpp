// The help commands (which file, which programs, which boxes) and the result
// page behind copying and printing, which must leave no file behind.
#include "ScopedEnv.h"
#include "Help.h"
#include "ResultsPage.h"

#include "BuildInfo.h"
#include "CLogger.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <QApplication>
#include <QClipboard>
#include <QFont>
#include <QPrinter>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

void setMtime(const std::string& path, std::time_t when)
{
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}


// Records every program the help commands try; succeeds for one name.
class RecordingLauncher {
public:
    explicit RecordingLauncher(QString succeedFor = {})
        : m_succeedFor(std::move(succeedFor))
    {
        m_previous = SetProgramLauncher([this](const QString& program, const QStringList& args) {
            tried.push_back(program.toStdString());
            arguments.push_back(args);
            return program == m_succeedFor;
        });
    }
    ~RecordingLauncher() { SetProgramLauncher(std::move(m_previous)); }

    std::vector<std::string> tried;
    std::vector<QStringList> arguments;

private:
    QString m_succeedFor;
    ProgramLauncher m_previous;
};

TEST(UserGuide, NewestKvxhelpPdfWins)
{
    struct File {
        const char* name;
        std::time_t mtime;
        bool directory;
    };
    struct {
        const char* what;
        std::vector<File> files;
        const char* expected; // null: the default name
    } cases[] = {
        {"nothing there", {{"readme.pdf", 100, false}}, nullptr},
        {"newer mixed-case name", {{"kvxhelp.pdf", 1000, false}, {"KvxHelp_v2.pdf", 2000, false}}, "KvxHelp_v2.pdf"},
        {"older mixed-case name", {{"kvxhelp.pdf", 3000, false}, {"KvxHelp_v2.pdf", 2000, false}}, "kvxhelp.pdf"},
        {"capital extension ignored", {{"kvxhelp.pdf", 1000, false}, {"KVXHELP_v3.PDF", 5000, false}}, "kvxhelp.pdf"},
        {"only a capital extension", {{"kvxhelp.PDF", 1000, false}}, nullptr},
        {"extension after the last dot", {{"kvxhelp.pdf.old", 5000, false}, {"kvxhelp.v1.pdf", 1000, false}},
         "kvxhelp.v1.pdf"},
        {"directories ignored", {{"kvxhelp_dir.pdf", 9000, true}, {"kvxhelp_a.pdf", 1000, false}}, "kvxhelp_a.pdf"},
        {"prefix must start the name", {{"mykvxhelp.pdf", 9000, false}}, nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir;
        for (const File& f : c.files) {
            if (f.directory)
                fs::create_directory(dir.file(f.name));
            else
                WriteFile(dir.file(f.name), "%PDF-1.4\n");
            setMtime(dir.file(f.name), f.mtime);
        }
        const QString programDir = QString::fromStdString(dir.path());
        const std::string expected = dir.file(c.expected ? c.expected : "kvxhelp.pdf");
        EXPECT_EQ(FindUserGuide(programDir).toStdString(), expected) << c.what;
    }
}

TEST(UserGuide, UnreadableDirectoryKeepsTheDefaultAndSaysWhy)
{
    TempDir dir;
    const QString missing = QString::fromStdString(dir.file("gone"));
    ::testing::internal::CaptureStderr();
    const QString path = FindUserGuide(missing);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(path, missing + "/kvxhelp.pdf");
    EXPECT_EQ(err, std::string("opendir: ") + std::strerror(ENOENT) + "\n");
}

TEST(OpenDocument, MissingFileAsksAndStartsNothing)
{
    TempDir dir;
    const std::string path = dir.file("kvxhelp.pdf");
    ScopedEnv browser("BROWSER", nullptr);
    RecordingSink sink;
    RecordingLauncher launcher("mozilla");
    EXPECT_FALSE(openDocument(QString::fromStdString(path)));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Warning);
    EXPECT_EQ(sink.boxes[0].caption, "Document not found");
    EXPECT_EQ(sink.boxes[0].text,
              "Unable to open the document.  Ensure that you have\n" + path + " in the same folder as your application.");
    EXPECT_EQ(sink.boxes[0].buttons, std::vector<std::string> {"OK"});
    EXPECT_TRUE(launcher.tried.empty());

    // A second button's answer leads to the home page.
    sink.answers = {1};
    EXPECT_FALSE(openDocument(QString::fromStdString(path)));
    EXPECT_EQ(launcher.tried, std::vector<std::string> {"mozilla"});
    ASSERT_EQ(sink.boxes.size(), 2u);
    ASSERT_FALSE(launcher.arguments.empty());
    EXPECT_EQ(launcher.arguments[0], QStringList {QString::fromLatin1(kHomePage)});
}

TEST(OpenDocument, ViewersInOrderUntilOneStarts)
{
    TempDir dir;
    const std::string path = dir.file("kvxhelp.pdf");
    WriteFile(path, "%PDF-1.4\n");
    ScopedEnv browser("BROWSER", nullptr);
    struct {
        const char* succeedFor;
        std::vector<std::string> tried;
        bool opened;
    } cases[] = {
        {"kpdf", {"kpdf"}, true},
        {"ggv", {"kpdf", "kghostview", "ggv"}, true},
        {"xdg-open", {"kpdf", "kghostview", "ggv", "xdg-open"}, true},
        {"", {"kpdf", "kghostview", "ggv", "xdg-open"}, false},
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        RecordingLauncher launcher(QString::fromLatin1(c.succeedFor));
        EXPECT_EQ(openDocument(QString::fromStdString(path)), c.opened) << c.succeedFor;
        EXPECT_EQ(launcher.tried, c.tried) << c.succeedFor;
        for (const QStringList& args : launcher.arguments)
            EXPECT_EQ(args, QStringList {QString::fromStdString(path)});
        if (c.opened) {
            EXPECT_TRUE(sink.boxes.empty()) << c.succeedFor;
            continue;
        }
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Critical);
        EXPECT_EQ(sink.boxes[0].caption, "URL error");
        EXPECT_EQ(sink.boxes[0].text.rfind("Unable to open the document. Ensure that you have kpdf installed and the "
                                           "document "
                                               + path + " in the same folder as your application.  Please contact\n",
                                           0),
                  0u)
            << sink.boxes[0].text;
        EXPECT_NE(sink.boxes[0].text.find(kSupportEmail), std::string::npos);
    }
}

TEST(GoToURL, BrowserListFromEnvironmentOrDefaults)
{
    const std::vector<std::string> defaults = {"mozilla", "netscape", "firefox", "konqueror", "xdg-open"};
    struct {
        const char* browserEnv; // null: unset
        const char* succeedFor;
        std::vector<std::string> tried;
        const char* boxFirstName; // null: no box expected
    } cases[] = {
        {nullptr, "", defaults, "mozilla"},
        {"", "", defaults, "mozilla"},
        {nullptr, "firefox", {"mozilla", "netscape", "firefox"}, nullptr},
        {nullptr, "xdg-open", defaults, nullptr},
        {"mybrowser", "", {"mybrowser"}, "mybrowser"},
        {"mybrowser", "mybrowser", {"mybrowser"}, nullptr},
        {"one:two", "one", {"one"}, nullptr},
        {"one::two", "", {"one", "two"}, "one"},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.browserEnv ? c.browserEnv : "<unset>") + " / " + c.succeedFor;
        ScopedEnv env("BROWSER", c.browserEnv);
        RecordingSink sink;
        RecordingLauncher launcher(QString::fromLatin1(c.succeedFor));
        EXPECT_EQ(goToURL("http://example.org/x"), c.boxFirstName == nullptr) << label;
        EXPECT_EQ(launcher.tried, c.tried) << label;
        for (const QStringList& args : launcher.arguments)
            EXPECT_EQ(args, QStringList {"http://example.org/x"}) << label;
        if (!c.boxFirstName) {
            EXPECT_TRUE(sink.boxes.empty()) << label;
            continue;
        }
        ASSERT_EQ(sink.boxes.size(), 1u) << label;
        EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Critical);
        EXPECT_EQ(sink.boxes[0].caption, "URL error");
        EXPECT_EQ(sink.boxes[0].text,
                  std::string("Unable to open the URL. Ensure that you have ") + c.boxFirstName + " installed")
            << label;
    }
}

constexpr std::time_t kNow = 1772794931;

class ResultsPageTest : public ::testing::Test {
protected:
    TempDir work;    // the working directory during the test
    TempDir scratch; // where the private temporary files go
    TempDir out;     // files the test writes on purpose
    CLogger log {"page"};
    CLogger* savedLogger = nullptr;
    std::string savedCwd;
    std::optional<ScopedEnv> tmpdir;

    void SetUp() override
    {
        gReportClock = [] { return kNow; };
        savedLogger = gLogger;
        gLogger = &log;
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(e_strings, 0, sizeof e_strings);
        std::strcpy(e_strings[0], "No error");
        testconfig.test_enabled[kSlotMaths] = 1;
        resultfile.accum_results[kSlotMaths] = {5, 0, 0, 0, 12345678};
        resultfile.run_start_time = static_cast<std::int32_t>(kNow - 3723);
        resultfile.run_stop_time = static_cast<std::int32_t>(kNow);
        stop_all_tests = 1;

        savedCwd = fs::current_path().string();
        ASSERT_EQ(::chdir(work.path().c_str()), 0);
        tmpdir.emplace("TMPDIR", scratch.path().c_str());
    }
    void TearDown() override
    {
        tmpdir.reset();
        EXPECT_EQ(::chdir(savedCwd.c_str()), 0);
        gLogger = savedLogger;
        gReportClock = [] { return std::time(nullptr); };
    }

    std::string capture(const std::function<void(FILE*)>& write)
    {
        const std::string path = out.file("capture");
        FILE* f = std::fopen(path.c_str(), "w");
        write(f);
        std::fclose(f);
        return ReadFile(path);
    }
    void expectNothingLeftBehind()
    {
        EXPECT_TRUE(fs::is_empty(work.path())) << "working directory";
        EXPECT_TRUE(fs::is_empty(scratch.path())) << "temporary directory";
    }
};

TEST_F(ResultsPageTest, PageFilesHoldTheSystemInformationAndSummary)
{
    const std::string text =
        capture([&](FILE* f) { log.WriteSystemInfoToFile(f); }) + capture([&](FILE* f) {
            log.saveasciiresultsummary(f, true);
        });
    const std::string html =
        std::string("<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
                    "<title>Kalvex Test Results - From Veltrane Software (")
        + kHomePage + ")</title>\n</head>\n<body>\n" + capture([&](FILE* f) { log.WriteHTMLSystemInfoToFile(f); })
        + capture([&](FILE* f) { log.savehtmlresultsummary(f); }) + "<p><small>Results Produced by <a href=\""
        + kHomePage + "\">Veltrane KalvexTest</a> (" + kHomePage + ")</small></p>\n</body>\n</html>\n";
    ASSERT_NE(text.find("CPU - Maths   5        12.346 Million"), std::string::npos) << text;

    struct {
        int format;
        std::string expected;
    } cases[] = {{1, text}, {2, html}, {3, ""}};
    for (const auto& c : cases) {
        const std::string path = out.file("page" + std::to_string(c.format));
        WriteFile(path, "old content that must go");
        DrawResultsPage(QString::fromStdString(path), c.format);
        EXPECT_EQ(ReadFile(path), c.expected) << c.format;
        EXPECT_EQ(ResultsPageText(c.format).toStdString(), c.expected) << c.format;
    }
    expectNothingLeftBehind();
}

TEST_F(ResultsPageTest, UnopenablePathLeavesOnlyATraceLine)
{
    FILE* savedTrace = g_fh_debug;
    const std::string tracePath = out.file("debug.log");
    g_fh_debug = std::fopen(tracePath.c_str(), "w");
    DrawResultsPage(QString::fromStdString(out.file("no/such/dir/results.txt")), 1);
    std::fclose(g_fh_debug);
    g_fh_debug = savedTrace;

    const std::string trace = ReadFile(tracePath);
    const std::string expected = std::string("fopen: strerror(2):") + std::strerror(ENOENT) + "\n";
    EXPECT_EQ(trace.rfind("DrawResultsPage[", 0), 0u) << trace;
    EXPECT_NE(trace.find(expected), std::string::npos) << trace;
    EXPECT_FALSE(FileExists(out.file("no")));
}

TEST_F(ResultsPageTest, ClipboardGetsThePlainPageAndNoFileStays)
{
    const std::string expected = capture([&](FILE* f) {
        log.WriteSystemInfoToFile(f);
        log.saveasciiresultsummary(f, true);
    });
    // A user's own file of the old fixed name must survive.
    WriteFile(work.file("results.txt"), "mine");
    EXPECT_EQ(ResultsTextForClipboard().toStdString(), expected);
    CopyResultsToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), expected);
    EXPECT_EQ(ReadFile(work.file("results.txt")), "mine");
    fs::remove(work.file("results.txt"));
    expectNothingLeftBehind();
}

TEST_F(ResultsPageTest, PrintingToAnExistingFileAsksFirst)
{
    const std::string target = out.file("printed.pdf");
    struct {
        bool exists;
        std::optional<int> answer; // none: dismissed
        bool printed;
    } cases[] = {{false, std::nullopt, true}, {true, 0, true}, {true, 1, false}, {true, std::nullopt, false}};
    for (const auto& c : cases) {
        fs::remove(target);
        if (c.exists)
            WriteFile(target, "keep me");
        RecordingSink sink;
        if (c.answer)
            sink.answers = {*c.answer};
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(target));

        EXPECT_EQ(PrintResultsPage(printer, ResultsPageText(2), QApplication::font()), c.printed);

        ASSERT_EQ(sink.boxes.size(), c.exists ? 1u : 0u);
        if (c.exists) {
            EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Warning);
            EXPECT_EQ(sink.boxes[0].caption, "Print to file");
            EXPECT_EQ(sink.boxes[0].text, "File " + target + " already exists.\nDo you want to overwrite it?");
            EXPECT_EQ(sink.boxes[0].buttons, (std::vector<std::string> {"&Yes", "&No"}));
        }
        const std::string written = ReadFile(target);
        if (c.printed)
            EXPECT_EQ(written.rfind("%PDF", 0), 0u);
        else
            EXPECT_EQ(written, "keep me");
    }
    expectNothingLeftBehind();
}

TEST_F(ResultsPageTest, CancelledPrintDialogLeavesNoFile)
{
    QWidget window;
    // The dialog is modal: close it from the event loop it runs.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    closer.start(20);
    PrintResults(&window);
    closer.stop();
    expectNothingLeftBehind();
}

} // namespace
