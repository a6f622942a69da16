// The help commands, and the result page behind copying and printing,
// which must leave no file behind.
#include "Help.h"
#include "ResultsPage.h"
#include "ScopedEnv.h"

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

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

namespace fs = std::filesystem;

// The boxes shown, one line each: icon, caption, text, buttons.
std::string render(const std::vector<RecordedBox>& boxes)
{
    std::string out;
    for (const RecordedBox& b : boxes) {
        out += std::to_string(static_cast<int>(b.icon)) + "|" + b.caption + "|" + b.text;
        for (const std::string& button : b.buttons)
            out += "|" + button;
        out += "\n";
    }
    return out;
}
std::string box(BoxIcon icon, const std::string& caption, const std::string& text,
    const std::vector<std::string>& buttons = { "OK" })
{
    return render({ { icon, caption, text, buttons } });
}

// Records every program the help commands try; succeeds for one name.
class RecordingLauncher {
public:
    explicit RecordingLauncher(const char* succeedFor = "")
    {
        m_previous = SetProgramLauncher([this, succeedFor](const QString& program, const QStringList& args) {
            tried.push_back(program.toStdString());
            arguments.push_back(args);
            return program == QLatin1String(succeedFor);
        });
    }
    ~RecordingLauncher() { SetProgramLauncher(std::move(m_previous)); }
    std::vector<std::string> tried;
    std::vector<QStringList> arguments;

private:
    ProgramLauncher m_previous;
};

TEST(UserGuide, NewestKvxhelpPdfWins)
{
    struct File {
        const char* name;
        std::time_t mtime;
        bool directory = false;
    };
    struct {
        std::vector<File> files;
        const char* expected; // null: the default name
    } cases[] = {
        { { { "kvxhelp.pdf", 1000 }, { "KvxHelp_v2.pdf", 2000 } }, "KvxHelp_v2.pdf" },
        { { { "kvxhelp.pdf", 3000 }, { "KvxHelp_v2.pdf", 2000 } }, "kvxhelp.pdf" },
        { { { "kvxhelp.pdf", 1000 }, { "KVXHELP_v3.PDF", 5000 } }, "kvxhelp.pdf" }, // capital extension ignored
        { { { "kvxhelp.pdf.old", 5000 }, { "kvxhelp.v1.pdf", 1000 } }, "kvxhelp.v1.pdf" },
        { { { "kvxhelp_dir.pdf", 9000, true }, { "kvxhelp_a.pdf", 1000 } }, "kvxhelp_a.pdf" },
        { { { "mykvxhelp.pdf", 9000 }, { "readme.pdf", 9000 } }, nullptr },
    };
    for (const auto& c : cases) {
        TempDir dir;
        for (const File& f : c.files) {
            if (f.directory)
                fs::create_directory(dir.file(f.name));
            else
                WriteFile(dir.file(f.name), "%PDF-1.4\n");
            const timespec times[2] = { { f.mtime, 0 }, { f.mtime, 0 } };
            ASSERT_EQ(::utimensat(AT_FDCWD, dir.file(f.name).c_str(), times, 0), 0);
        }
        EXPECT_EQ(FindUserGuide(QString::fromStdString(dir.path())).toStdString(),
            dir.file(c.expected ? c.expected : "kvxhelp.pdf"))
            << c.files[0].name;
    }
}

TEST(OpenDocument, MissingFileSaysWhereElseProgramsTriedInOrderUntilOneStarts)
{
    TempDir dir;
    const std::string path = dir.file("kvxhelp.pdf");
    {
        ScopedEnv browser("BROWSER", nullptr);
        RecordingSink sink;
        RecordingLauncher launcher("mozilla");
        EXPECT_FALSE(openDocument(QString::fromStdString(path)));
        EXPECT_EQ(render(sink.boxes),
            box(BoxIcon::Warning, "Document not found",
                "Unable to open the document.  Ensure that you have\n" + path
                    + " in the same folder as your application."));
        EXPECT_TRUE(launcher.tried.empty());
        // A second button's answer leads to the home page.
        sink.answers = { 1 };
        openDocument(QString::fromStdString(path));
        EXPECT_EQ(launcher.tried, std::vector<std::string> { "mozilla" });
        EXPECT_EQ(launcher.arguments, std::vector<QStringList> { { QString::fromLatin1(kHomePage) } });
    }
    WriteFile(path, "%PDF-1.4\n");
    const std::vector<std::string> viewers = { "kpdf", "kghostview", "ggv", "xdg-open" };
    const std::vector<std::string> browsers = { "mozilla", "netscape", "firefox", "konqueror", "xdg-open" };
    struct {
        bool document; // else a URL
        const char* browserEnv; // null: unset
        const char* succeedFor;
        std::vector<std::string> tried;
    } cases[] = {
        { true, nullptr, "ggv", { "kpdf", "kghostview", "ggv" } },
        { true, "mybrowser", "xdg-open", viewers },
        { true, nullptr, "", viewers },
        { false, nullptr, "", browsers },
        { false, "", "", browsers },
        { false, nullptr, "xdg-open", browsers },
        { false, "mybrowser", "", { "mybrowser" } },
        { false, "mybrowser", "mybrowser", { "mybrowser" } },
        { false, "one:two", "one", { "one" } },
        { false, "one::two", "", { "one", "two" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.browserEnv ? c.browserEnv : "<unset>") + " / " + c.succeedFor);
        ScopedEnv env("BROWSER", c.browserEnv);
        RecordingSink sink;
        RecordingLauncher launcher(c.succeedFor);
        const std::string target = c.document ? path : "http://example.org/x";
        const QString q = QString::fromStdString(target);
        const bool opened = c.tried.back() == c.succeedFor;
        EXPECT_EQ(c.document ? openDocument(q) : goToURL(q), opened);
        EXPECT_EQ(launcher.tried, c.tried);
        EXPECT_EQ(launcher.arguments, std::vector<QStringList>(c.tried.size(), QStringList { q }));
        const std::string failure = c.document
            ? "Unable to open the document. Ensure that you have kpdf installed and the document " + path
                + " in the same folder as your application.  Please contact\n" + kMaker + " at " + kSupportEmail
                + " if you need a copy"
            : "Unable to open the URL. Ensure that you have " + c.tried[0] + " installed";
        EXPECT_EQ(render(sink.boxes), opened ? "" : box(BoxIcon::Critical, "URL error", failure));
    }
}

constexpr std::time_t kNow = 1772794931;

class ResultsPageTest : public ::testing::Test {
protected:
    TempDir work; // the working directory during the test
    TempDir scratch; // where the private temporary files go
    TempDir out; // files the test writes on purpose
    CLogger log { "page" };
    CLogger* savedLogger = gLogger;
    std::string savedCwd = fs::current_path().string();
    ScopedEnv tmpdir { "TMPDIR", scratch.path().c_str() };

    void SetUp() override
    {
        gReportClock = [] { return kNow; };
        gLogger = &log;
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(e_strings, 0, sizeof e_strings);
        std::strcpy(e_strings[0], "No error");
        testconfig.test_enabled[kSlotMaths] = 1;
        resultfile.accum_results[kSlotMaths] = { 5, 0, 0, 0, 12345678 };
        resultfile.run_start_time = static_cast<std::int32_t>(kNow - 3723);
        resultfile.run_stop_time = static_cast<std::int32_t>(kNow);
        ASSERT_EQ(::chdir(work.path().c_str()), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(::chdir(savedCwd.c_str()), 0);
        gLogger = savedLogger;
        gReportClock = [] { return std::time(nullptr); };
        EXPECT_TRUE(fs::is_empty(work.path())) << "working directory";
        EXPECT_TRUE(fs::is_empty(scratch.path())) << "temporary directory";
    }

    std::string capture(const std::function<void(FILE*)>& write)
    {
        const std::string path = out.file("capture");
        FILE* f = std::fopen(path.c_str(), "w");
        write(f);
        std::fclose(f);
        return ReadFile(path);
    }
};

TEST_F(ResultsPageTest, PageFilesHoldTheSystemInformationAndSummary)
{
    const std::string text = capture([&](FILE* f) {
        log.WriteSystemInfoToFile(f);
        log.saveasciiresultsummary(f, true);
    });
    const std::string html
        = std::string("<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
                      "<title>Kalvex Test Results - From Veltrane Software (")
        + kHomePage + ")</title>\n</head>\n<body>\n" + capture([&](FILE* f) {
              log.WriteHTMLSystemInfoToFile(f);
              log.savehtmlresultsummary(f);
          })
        + "<p><small>Results Produced by <a href=\"" + kHomePage + "\">Veltrane KalvexTest</a> (" + kHomePage
        + ")</small></p>\n</body>\n</html>\n";
    ASSERT_NE(text.find("CPU - Maths   5        12.346 Million"), std::string::npos) << text;

    for (const auto& [format, expected] : { std::pair { 1, text }, { 2, html }, { 3, std::string() } }) {
        const std::string path = out.file("page" + std::to_string(format));
        WriteFile(path, "old content that must go");
        DrawResultsPage(QString::fromStdString(path), format);
        EXPECT_EQ(ReadFile(path), expected) << format;
        EXPECT_EQ(ResultsPageText(format).toStdString(), expected) << format;
    }

    // The clipboard gets the plain page; a user's own file of the old fixed name survives.
    WriteFile(work.file("results.txt"), "mine");
    CopyResultsToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), text);
    EXPECT_EQ(ReadFile(work.file("results.txt")), "mine");
    fs::remove(work.file("results.txt"));

    // A path that cannot be opened creates nothing and leaves a trace line.
    FILE* savedTrace = std::exchange(g_fh_debug, std::fopen(out.file("debug.log").c_str(), "w"));
    DrawResultsPage(QString::fromStdString(out.file("no/such/dir/results.txt")), 1);
    std::fclose(std::exchange(g_fh_debug, savedTrace));
    EXPECT_NE(ReadFile(out.file("debug.log")).find(std::string("]: fopen: strerror(2):") + std::strerror(ENOENT)),
        std::string::npos);
    EXPECT_FALSE(FileExists(out.file("no")));
}

TEST_F(ResultsPageTest, PrintingToAnExistingFileAsksFirst)
{
    const std::string target = out.file("printed.pdf");
    struct {
        bool exists;
        int answer; // -1: dismissed
        bool printed;
    } cases[] = { { false, -1, true }, { true, 0, true }, { true, 1, false }, { true, -1, false } };
    for (const auto& c : cases) {
        fs::remove(target);
        if (c.exists)
            WriteFile(target, "keep me");
        RecordingSink sink;
        sink.answers = { c.answer };
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(target));
        EXPECT_EQ(PrintResultsPage(printer, ResultsPageText(2), QApplication::font()), c.printed);
        EXPECT_EQ(render(sink.boxes),
            c.exists ? box(BoxIcon::Warning, "Print to file",
                "File " + target + " already exists.\nDo you want to overwrite it?", { "&Yes", "&No" })
                     : "");
        EXPECT_EQ(ReadFile(target).substr(0, 7), c.printed ? "%PDF-1." : "keep me");
    }
}

} // namespace
