#include "BuildInfo.h"
#include "CommandLine.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
    StartupOptions opts;
    std::string printed;
};

// argv for `words` after the program name; the words stay owned by the caller.
std::vector<char*> argvOf(std::vector<std::string>& words)
{
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return argv;
}

Parsed parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "kalvextest");
    std::vector<char*> argv = argvOf(words);
    Parsed p;
    char* buf = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&buf, &len);
    ParseCommandLine(static_cast<int>(words.size()), argv.data(), p.opts, out);
    std::fclose(out);
    p.printed.assign(buf, len);
    std::free(buf);
    return p;
}

TEST(CommandLine, PrintsALinePerOption)
{
    RecordingSink sink;
    const struct {
        std::vector<std::string> args;
        std::string printed;
    } cases[] = { { { "-s" }, "option --stdout\n" }, { { "--stdout" }, "option --stdout\n" },
        { { "-d", "my.log" }, "option --debugmode with value `my.log'\n" },
        { { "--debugmode", "my.log" }, "option --debugmode with value `my.log'\n" },
        { { "-r" }, "option --redirect\n" }, { { "-r", "1" }, "option --redirect with value `1'\n" },
        { { "-a" }, "option -a\n" }, { { "-C", "x.cfg" }, "option -C with value `x.cfg'\n" },
        { { "--config", "x.cfg" }, "option -C with value `x.cfg'\n" }, { { "-R" }, "option -R with no argument\n" },
        { { "-R", "500" }, "option -R with argument 500\n" }, { { "-t" }, "option -t\n" }, { { "-x" }, "?\n" },
        { { "-s", "-x", "-a" }, "option --stdout\n?\noption -a\n" },
        // An optional argument must not swallow the next option.
        { { "-d", "-s" }, "option --debugmode\noption --stdout\n" } };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.args).printed, c.printed) << c.args[0];
}

TEST(CommandLine, VersionAndHelpStopTheParsing)
{
    Parsed p = parse({ "-s", "-v", "-a" });
    EXPECT_TRUE(p.opts.versionRequested);
    EXPECT_EQ(p.printed,
        "option --stdout\nVeltrane (TM) Software, KalvexTest v1.0 (1007) Linux - Build: " + std::string(BuildDate())
            + " " + BuildTime() + "\n");

    p = parse({ "-s", "--help", "-a" });
    EXPECT_TRUE(p.opts.helpRequested && !p.opts.versionRequested);
    EXPECT_EQ(p.printed.rfind("option --stdout\nUsage: kalvextest", 0), 0u) << p.printed;
    EXPECT_EQ(p.printed.find("option -a"), std::string::npos) << "parsing stopped at --help";
    for (const char* o : { "--align-mem-address", "--config", "--debugmode", "--redirect", "--autostart", "--stdout",
             "--time-stamp", "--version", "--help" })
        EXPECT_NE(p.printed.find(o), std::string::npos) << o;
    EXPECT_FALSE(parse({ "-h" }).opts.helpRequested);

    // Seen before the parse, without side effects.
    std::vector<std::string> words { "kalvextest", "-d", "x", "--version" };
    std::vector<char*> argv = argvOf(words);
    EXPECT_TRUE(CommandLineRequestsInfo(4, argv.data()));
    EXPECT_STREQ(argv[2], "x") << "argv must not be permuted";
    words = { "kalvextest", "--help" };
    EXPECT_TRUE(CommandLineRequestsInfo(2, argvOf(words).data()));
    words = { "kalvextest", "-s", "v" };
    EXPECT_FALSE(CommandLineRequestsInfo(3, argvOf(words).data()));
}

TEST(CommandLine, DebugFileIsTheNextWordAlsoListedAsNonOption)
{
    Parsed p = parse({ "-d", "trace.txt", "-s" });
    EXPECT_EQ(p.opts.debugFileName, "trace.txt");
    EXPECT_FALSE(p.opts.followConfigLogPath || p.opts.redirect);
    EXPECT_EQ(p.opts.nonOptions, std::vector<std::string> { "trace.txt" });
    p = parse({ "-d" });
    EXPECT_EQ(p.opts.debugFileName, "debug.log");
    EXPECT_FALSE(p.opts.followConfigLogPath);
}

TEST(CommandLine, AutostartIntervalAndRedirectMode)
{
    const struct {
        std::vector<std::string> args;
        int autostartMs; // 0: no autostart
        bool redirect;
        int mode;
    } cases[] = { { { "-R" }, 3000, true, 3 }, { { "-R", "2999" }, 3000, true, 3 }, { { "-R", "3000" }, 3000, true, 3 },
        { { "-R", "10000" }, 10000, true, 3 }, { { "-R", "abc" }, 3000, true, 3 },
        { { "--autostart", "-5" }, 3000, true, 3 }, { { "-r" }, 0, true, 3 }, { { "-r", "0" }, 0, true, 0 },
        { { "-r", "2" }, 0, true, 2 }, { { "-s" }, 0, false, 3 }, { { "-s", "-r", "1" }, 0, true, 1 } };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.opts.autorun, c.autostartMs != 0) << c.args.size();
        EXPECT_TRUE(!c.autostartMs || p.opts.autostartMs == c.autostartMs) << c.args.back();
        EXPECT_EQ(std::pair(p.opts.redirect, p.opts.redirectMode), std::pair(c.redirect, c.mode)) << c.args.size();
    }
}

TEST(CommandLineConfigName, LongNamesAreCutMissingNamesAskToQuit)
{
    const std::string name(150, 'n');
    Parsed p = parse({ "-C", name });
    EXPECT_EQ(std::string(p.opts.configName), name.substr(0, 99));
    EXPECT_EQ(p.printed, "option -C with value `" + name + "'\n");
    for (const auto& args : { std::vector<std::string> { "-C", "-s" }, std::vector<std::string> { "-s", "-C" } }) {
        RecordingSink sink;
        Parsed p = parse(args);
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(sink.boxes[0].caption, "No arguments for -C");
        EXPECT_EQ(sink.boxes[0].text, "option -C needs an argument");
        EXPECT_EQ(sink.boxes[0].buttons, std::vector<std::string> { "Quit" });
        EXPECT_EQ(p.opts.configName[0], '\0');
        EXPECT_NE(p.printed.find("option -C needs an argument\n"), std::string::npos);
    }
}

TEST(CommandLineConfigNameDeathTest, QuitEndsWithStatus1)
{
    EXPECT_EXIT(
        {
            RecordingSink sink;
            sink.answers.push_back(0);
            parse({ "-C", "-x" });
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST(CommandLineEnvironment, AlignKeepsAnExistingValueTimeStampOverwrites)
{
    ::setenv("_MLOCK_PAGE_ALIGN_", "7", 1);
    ::setenv("_TIME_STAMP_", "old", 1);
    parse({ "-a", "-t" });
    EXPECT_STREQ(std::getenv("_MLOCK_PAGE_ALIGN_"), "7");
    EXPECT_STREQ(std::getenv("_TIME_STAMP_"), "");
    ::unsetenv("_MLOCK_PAGE_ALIGN_");
    parse({ "--align-mem-address" });
    EXPECT_STREQ(std::getenv("_MLOCK_PAGE_ALIGN_"), "1");
    ::unsetenv("_MLOCK_PAGE_ALIGN_");
    ::unsetenv("_TIME_STAMP_");
}

} // namespace
