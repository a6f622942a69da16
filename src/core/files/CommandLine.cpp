#include "CommandLine.h"

#include "BuildInfo.h"
#include "MessageBox.h"

#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

const option kLongOptions[] = {
    { "align-mem-address", no_argument, nullptr, 'a' },
    { "config", required_argument, nullptr, 'C' },
    { "debugmode", optional_argument, nullptr, 'd' },
    { "redirect", optional_argument, nullptr, 'r' },
    { "autostart", optional_argument, nullptr, 'R' },
    { "stdout", no_argument, nullptr, 's' },
    { "time-stamp", optional_argument, nullptr, 't' },
    { "version", no_argument, nullptr, 'v' },
    // Long form only: "-h" keeps its old meaning (an unknown option).
    { "help", no_argument, nullptr, 'h' },
    { nullptr, 0, nullptr, 0 },
};
constexpr const char* kShortOptions = "aC:d::r::R::st::v";

constexpr const char* kUsageText = "Usage: kalvextest [OPTION]...\n"
                                   "Loads every part of the PC at once to find unreliable hardware.\n"
                                   "\n"
                                   "  -a, --align-mem-address   page-align the memory test's buffers\n"
                                   "  -C, --config FILE         load FILE instead of LastUsed.cfg\n"
                                   "  -d, --debugmode [FILE]    debug trace into FILE (debug.log) in the program\n"
                                   "                            directory; logs go to the program directory\n"
                                   "  -r, --redirect [MODE]     redirect output into the debug trace: 0 none,\n"
                                   "                            1 standard output, 2 standard error, 3 both\n"
                                   "  -R, --autostart [MS]      start the run MS milliseconds after start-up\n"
                                   "                            (at least 3000), without the pre-run warning\n"
                                   "  -s, --stdout              keep standard output and error on the terminal\n"
                                   "  -t, --time-stamp          write time stamps into the debug trace\n"
                                   "  -v, --version             print the version and exit\n"
                                   "      --help                print this help and exit\n"
                                   "\n"
                                   "An optional argument is the next word when it does not begin with '-'.\n"
                                   "The program keeps its data files in its own directory. See kalvextest(1)\n"
                                   "and the user guide (Help > Help, kvxhelp.pdf).\n";

// The word after the option, when there is one and it is no option itself.
const char* nextWordArgument(int argc, char** argv)
{
    if (optind < argc && argv[optind] && argv[optind][0] != '-')
        return argv[optind];
    return nullptr;
}

void missingConfigName(StartupOptions& opts, FILE* out)
{
    std::fputs("option -C needs an argument\n", out);
    ShowQuitBox("No arguments for -C", "option -C needs an argument");
    opts.configName[0] = '\0';
}

} // namespace

void ParseCommandLine(int argc, char** argv, StartupOptions& opts, FILE* out)
{
    optind = 0; // full re-initialisation, so a second parse starts afresh
    int c;
    while ((c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 's':
            std::fputs("option --stdout\n", out);
            opts.redirect = false;
            break;
        case 'v':
            std::fputs(VersionLine().c_str(), out);
            std::fflush(out);
            opts.versionRequested = true;
            return;
        case 'h':
            std::fputs(kUsageText, out);
            std::fflush(out);
            opts.helpRequested = true;
            return;
        case 'd':
            opts.followConfigLogPath = false;
            if (const char* word = nextWordArgument(argc, argv)) {
                std::fprintf(out, "option --debugmode with value `%s'\n", word);
                opts.debugFileName = word;
            } else {
                std::fputs("option --debugmode\n", out);
            }
            break;
        case 'r':
            opts.redirect = true;
            if (const char* word = nextWordArgument(argc, argv)) {
                opts.redirectMode = std::atoi(word);
                std::fprintf(out, "option --redirect with value `%d'\n", opts.redirectMode);
            } else {
                opts.redirectMode = 3;
                std::fputs("option --redirect\n", out);
            }
            break;
        case 'a':
            std::fputs("option -a\n", out);
            ::setenv("_MLOCK_PAGE_ALIGN_", "1", 0);
            break;
        case 'C':
            if (!optarg || optarg[0] == '-') {
                missingConfigName(opts, out);
            } else {
                std::fprintf(out, "option -C with value `%s'\n", optarg);
                std::strncpy(opts.configName, optarg, sizeof opts.configName - 1);
                opts.configName[sizeof opts.configName - 1] = '\0';
            }
            break;
        case 'R':
            opts.autorun = true;
            if (const char* word = nextWordArgument(argc, argv)) {
                std::fprintf(out, "option -R with argument %s\n", word);
                opts.autostartMs = std::atoi(word);
            } else {
                std::fputs("option -R with no argument\n", out);
                opts.autostartMs = 0;
            }
            if (opts.autostartMs < kMinAutostartMs)
                opts.autostartMs = kMinAutostartMs;
            break;
        case 't':
            std::fputs("option -t\n", out);
            ::setenv("_TIME_STAMP_", "", 1);
            break;
        case ':':
            std::fputs(":\n", out);
            break;
        case '?':
            std::fputs("?\n", out);
            // getopt reports a -C at the end of the line this way; it is
            // still "-C without a file name".
            if (optopt == 'C')
                missingConfigName(opts, out);
            break;
        default:
            std::fputs("Invalid option\n", out);
            break;
        }
    }
    for (int i = optind; i < argc; ++i)
        opts.nonOptions.emplace_back(argv[i]);
}

bool CommandLineRequestsInfo(int argc, char** argv)
{
    // Same scan as the parser, silently and without side effects.
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    int savedOpterr = opterr;
    opterr = 0;
    optind = 0;
    bool version = false;
    int c;
    while (!version && (c = getopt_long(argc, args.data(), kShortOptions, kLongOptions, nullptr)) != -1)
        version = (c == 'v' || c == 'h');
    opterr = savedOpterr;
    optind = 0;
    return version;
}
