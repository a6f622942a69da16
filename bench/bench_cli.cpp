// What the headless runner costs beside the engines it runs: the CPU time of
// its own thread (progress, checks, stop, reports) over a maths run at duty
// cycle 100, as a share of one core.
//
//   bench_cli [seconds]   (default 60)
//
// Runs kalvextest-cli twice from a scratch copy of its directory: once with
// standard error on a pseudo-terminal (the live view, redrawn every second),
// once with it in a file and a progress line every second. Both write every
// report. Exits 1 when either run's share reaches 1 %.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The runner's thread CPU seconds from its debug trace, or -1.
double runnerCpu(const fs::path& dir)
{
    std::ifstream in(dir / "debug-cli.log");
    std::string line;
    double cpu = -1;
    while (std::getline(in, line)) {
        long us = 0, uu = 0, ss = 0, su = 0;
        if (std::sscanf(
                line.c_str(), "kalvextest-cli: runner thread CPU %ld.%ld s user, %ld.%ld s system", &us, &uu, &ss, &su)
            == 4)
            cpu = static_cast<double>(us + ss) + static_cast<double>(uu + su) / 1e6;
    }
    return cpu;
}

double runOnce(const fs::path& dir, int seconds, bool terminal)
{
    const std::string minutes = std::to_string(seconds / 60.0);
    const char* argv[] = { "./kalvextest-cli", "--tests", "maths", "--duty", "100", "--minutes", minutes.c_str(),
        "--progress-interval", "1", "--json", "r.json", "--junit", "r.xml", "--prom", "r.prom", "--report", "r.txt",
        "--html", "r.htm", nullptr };
    int master = -1;
    const pid_t pid = terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0)
            _exit(126);
        if (!terminal && !std::freopen("progress.txt", "w", stderr))
            _exit(126);
        execv(argv[0], const_cast<char**>(argv));
        _exit(127);
    }
    if (terminal) {
        // Drain the terminal as a real one would.
        char buf[4096];
        while (::read(master, buf, sizeof buf) > 0) { }
        ::close(master);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "kalvextest-cli ended with status %d\n", status);
    return runnerCpu(dir);
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const fs::path bin = fs::path(KVX_CLI).parent_path();
    bool fail = false;
    for (const bool terminal : { true, false }) {
        char pattern[] = "/tmp/bench_cli.XXXXXX";
        const fs::path dir = ::mkdtemp(pattern);
        for (const char* file : { "kalvextest-cli", "KVXErrorClassification.txt" })
            fs::copy_file(bin / file, dir / file);
        const double cpu = runOnce(dir, seconds, terminal);
        const double share = 100.0 * cpu / seconds;
        std::printf("%-34s runner thread %.3f s CPU in %d s: %.3f %% of one core\n",
            terminal ? "live view on a terminal:" : "progress lines every second:", cpu, seconds, share);
        fail = fail || cpu < 0 || share >= 1.0;
        fs::remove_all(dir);
    }
    return fail ? 1 : 0;
}
