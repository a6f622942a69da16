#include "BuildInfo.h"
#include "CommandLine.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>
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
    p.printed
        = Captured([&](FILE* out) { ParseCommandLine(static_cast<int>(words.size()), argv.data(), p.opts, out); });
    return p;
}

// The options that differ from the defaults.
std::string changed(const StartupOptions& o)
{
    const StartupOptions d;
    std::string out;
    if (o.redirect != d.redirect || o.redirectMode != d.redirectMode)
        out += (o.redirect ? " redirect " : " no redirect, mode ") + std::to_string(o.redirectMode);
    if (o.autorun)
        out += " autostart " + std::to_string(o.autostartMs);
    if (o.debugFileName != d.debugFileName || !o.followConfigLogPath)
        out += " debug " + o.debugFileName + (o.followConfigLogPath ? "" : " (own path)");
    if (o.configName[0])
        out += " config " + std::string(o.configName);
    for (const auto& word : o.nonOptions)
        out += " non-option " + word;
    return out + (o.helpRequested ? " help" : "") + (o.versionRequested ? " version" : "");
}

// Each line of tests/data/command-lines.txt made again from its arguments.
TEST(CommandLine, OptionsPrintTheirLinesAndSetTheirFields)
{
    RecordingSink sink;
    const std::string path = KVX_SOURCE_DIR "/tests/data/command-lines.txt";
    const std::string made = RemadeLines(path, [](std::string line) {
        line.resize(line.find(" =>"));
        std::istringstream words(line);
        Parsed p = parse({ std::istream_iterator<std::string>(words), {} });
        std::replace(p.printed.begin(), p.printed.end(), '\n', '|');
        return line + " => " + p.printed + " =>" + changed(p.opts);
    });
    EXPECT_EQ(GoldenFile(path, made), made);
}

TEST(CommandLine, VersionStopsTheParsingAndIsSeenBeforeIt)
{
    Parsed p = parse({ "-s", "-v", "-a" });
    EXPECT_TRUE(p.opts.versionRequested);
    EXPECT_EQ(p.printed,
        "option --stdout\nVeltrane (TM) Software, KalvexTest v1.0 (1007) Linux - Build: " + std::string(BuildDate())
            + " " + BuildTime() + "\n");

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

// A -C without its name, followed by an option or last, asks to quit.
TEST(CommandLineConfigNameDeathTest, MissingNameAsksAndQuitEndsWithStatus1)
{
    for (const auto& args : { std::vector<std::string> { "-C", "-s" }, std::vector<std::string> { "-s", "-C" } })
        EXPECT_EXIT(
            {
                RecordingSink sink;
                sink.answers.push_back(0);
                parse(args);
                std::exit(0);
            },
            ::testing::ExitedWithCode(1), "");
}

} // namespace
