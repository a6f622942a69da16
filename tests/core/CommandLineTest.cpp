#include "BuildInfo.h"
#include "CommandLine.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
    StartupOptions opts;
    std::string printed;
};

Parsed parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "kalvextest");
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

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

struct LineCase {
    std::vector<std::string> args;
    std::string printed;
};

class CommandLinePrintedLines : public ::testing::TestWithParam<LineCase> { };

TEST_P(CommandLinePrintedLines, PrintsTheOptionsLine)
{
    RecordingSink sink;
    EXPECT_EQ(parse(GetParam().args).printed, GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, CommandLinePrintedLines,
    ::testing::Values(LineCase { { "-s" }, "option --stdout\n" }, LineCase { { "--stdout" }, "option --stdout\n" },
        LineCase { { "-d" }, "option --debugmode\n" },
        LineCase { { "-d", "my.log" }, "option --debugmode with value `my.log'\n" },
        LineCase { { "--debugmode", "my.log" }, "option --debugmode with value `my.log'\n" },
        LineCase { { "-r" }, "option --redirect\n" }, LineCase { { "-r", "1" }, "option --redirect with value `1'\n" },
        LineCase { { "-a" }, "option -a\n" }, LineCase { { "-C", "x.cfg" }, "option -C with value `x.cfg'\n" },
        LineCase { { "--config", "x.cfg" }, "option -C with value `x.cfg'\n" },
        LineCase { { "-R" }, "option -R with no argument\n" },
        LineCase { { "-R", "500" }, "option -R with argument 500\n" }, LineCase { { "-t" }, "option -t\n" },
        LineCase { { "-x" }, "?\n" }, LineCase { { "-s", "-x", "-a" }, "option --stdout\n?\noption -a\n" },
        // An optional argument must not swallow the next option.
        LineCase { { "-d", "-s" }, "option --debugmode\noption --stdout\n" }),
    [](const ::testing::TestParamInfo<LineCase>& info) {
        std::string name;
        for (const auto& a : info.param.args)
            for (char ch : a)
                name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name + "_" + std::to_string(info.index);
    });

TEST(CommandLineVersion, PrintsTheVersionLineAndStopsParsing)
{
    Parsed p = parse({ "-s", "-v", "-a" });
    EXPECT_TRUE(p.opts.versionRequested);
    const std::string version = std::string("Veltrane (TM) Software, KalvexTest v1.0 (1007) Linux - Build: ")
        + BuildDate() + " " + BuildTime() + "\n";
    EXPECT_EQ(p.printed, "option --stdout\n" + version);
}

TEST(CommandLineVersion, RequestIsSeenWithoutSideEffects)
{
    std::vector<std::string> words { "kalvextest", "-d", "x", "--version" };
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    EXPECT_TRUE(CommandLineRequestsInfo(4, argv.data()));
    EXPECT_STREQ(argv[2], "x") << "argv must not be permuted";
    std::vector<std::string> none { "kalvextest", "-s", "v" };
    std::vector<char*> argv2;
    for (auto& w : none)
        argv2.push_back(w.data());
    argv2.push_back(nullptr);
    EXPECT_FALSE(CommandLineRequestsInfo(3, argv2.data()));
}

TEST(CommandLineHelp, LongHelpListsEveryOptionAndStopsWhileShortHStaysUnknown)
{
    Parsed p = parse({ "-s", "--help", "-a" });
    EXPECT_TRUE(p.opts.helpRequested);
    EXPECT_FALSE(p.opts.versionRequested);
    EXPECT_EQ(p.printed.rfind("option --stdout\nUsage: kalvextest", 0), 0u) << p.printed;
    EXPECT_EQ(p.printed.find("option -a"), std::string::npos) << "parsing stopped at --help";
    for (const char* o : { "--align-mem-address", "--config", "--debugmode", "--redirect", "--autostart", "--stdout",
             "--time-stamp", "--version", "--help" })
        EXPECT_NE(p.printed.find(o), std::string::npos) << o;

    Parsed h = parse({ "-h" });
    EXPECT_FALSE(h.opts.helpRequested);
    EXPECT_EQ(h.printed, "?\n");

    std::vector<std::string> words { "kalvextest", "--help" };
    std::vector<char*> argv { words[0].data(), words[1].data(), nullptr };
    EXPECT_TRUE(CommandLineRequestsInfo(2, argv.data()));
}

TEST(CommandLineOptionalArguments, NextWordIsUsedAndAlsoListedAsNonOption)
{
    Parsed p = parse({ "-d", "trace.txt", "-s" });
    EXPECT_EQ(p.opts.debugFileName, "trace.txt");
    EXPECT_FALSE(p.opts.followConfigLogPath);
    EXPECT_FALSE(p.opts.redirect);
    EXPECT_EQ(p.opts.nonOptions, std::vector<std::string> { "trace.txt" });
}

TEST(CommandLineOptionalArguments, DebugWithoutNameKeepsDefaultFile)
{
    Parsed p = parse({ "-d" });
    EXPECT_EQ(p.opts.debugFileName, "debug.log");
    EXPECT_FALSE(p.opts.followConfigLogPath);
}

TEST(CommandLineAutostart, IntervalsBelowTheMinimumBecome3000)
{
    struct {
        std::vector<std::string> args;
        int ms;
    } cases[] = { { { "-R" }, 3000 }, { { "-R", "500" }, 3000 }, { { "-R", "2999" }, 3000 }, { { "-R", "3000" }, 3000 },
        { { "-R", "10000" }, 10000 }, { { "-R", "abc" }, 3000 }, { { "--autostart", "-5" }, 3000 } };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_TRUE(p.opts.autorun);
        EXPECT_EQ(p.opts.autostartMs, c.ms) << c.args.back();
    }
    EXPECT_FALSE(parse({ "-s" }).opts.autorun);
}

TEST(CommandLineRedirect, ModesFollowTheNumber)
{
    struct {
        std::vector<std::string> args;
        bool redirect;
        int mode;
    } cases[] = { { {}, true, 3 }, { { "-r" }, true, 3 }, { { "-r", "0" }, true, 0 }, { { "-r", "1" }, true, 1 },
        { { "-r", "2" }, true, 2 }, { { "-s" }, false, 3 }, { { "-s", "-r", "2" }, true, 2 } };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.opts.redirect, c.redirect);
        EXPECT_EQ(p.opts.redirectMode, c.mode);
    }
}

TEST(CommandLineConfigName, LongNamesAreCutTo99Characters)
{
    const std::string name(150, 'n');
    Parsed p = parse({ "-C", name });
    EXPECT_EQ(std::string(p.opts.configName), name.substr(0, 99));
    EXPECT_EQ(p.printed, "option -C with value `" + name + "'\n");
}

TEST(CommandLineConfigName, MissingNameAsksToQuitAndContinuesWhenDismissed)
{
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
