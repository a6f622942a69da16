// The built program run from a copy of its directory, and a user at a real
// X display played through xdotool and xclip.
#pragma once

#include "TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

inline std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Polls `done` every 50 ms for at most `seconds`.
inline bool WaitUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

inline std::string Tail(const std::string& text, std::size_t n = 3000)
{
    return text.size() > n ? text.substr(text.size() - n) : text;
}

inline std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// How a start differs from "./kalvextest" in the program directory.
struct Launch {
    std::vector<std::string> args;
    std::vector<std::string> env; // NAME=value added, -NAME removed
    std::string program = "./kalvextest";
    uid_t uid = 0; // with `gid`: the user running it, when not 0
    gid_t gid = 0;
};

#ifdef KVX_BIN_DIR
// A copy of the built program's directory; each start writes its standard
// output and error to out.txt there.
class ProgramDir {
public:
    ProgramDir()
    {
        for (const auto& e : std::filesystem::directory_iterator(KVX_BIN_DIR))
            if (e.is_regular_file())
                std::filesystem::copy_file(e.path(), std::filesystem::path(dir.path()) / e.path().filename());
    }
    ~ProgramDir() { stop(); }

    pid_t start(const Launch& launch = {})
    {
        pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.path().c_str()) != 0)
                ::_exit(126);
            for (const auto& e : launch.env)
                e[0] == '-' ? ::unsetenv(e.c_str() + 1) : ::putenv(const_cast<char*>(e.c_str()));
            std::freopen("out.txt", "w", stdout);
            ::dup2(::fileno(stdout), 2);
            if (launch.uid != 0
                && (::setgroups(1, &launch.gid) != 0 || ::setresgid(launch.gid, launch.gid, launch.gid) != 0
                    || ::setresuid(launch.uid, launch.uid, launch.uid) != 0))
                ::_exit(126);
            std::vector<char*> argv { const_cast<char*>(launch.program.c_str()) };
            for (const auto& a : launch.args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execvp(launch.program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }
    // Ends a program still running; its wait status.
    int stop()
    {
        int status = -1;
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, &status, 0);
        }
        pid = -1;
        return status;
    }
    // The wait status once the program has ended by itself, or -1.
    int waitForExit(double seconds)
    {
        int status = -1;
        if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds))
            return -1;
        pid = -1;
        return status;
    }
    // Polls file `name` until it holds `text` (or `seconds` pass); returns it.
    std::string waitForText(const std::string& name, const std::string& text, double seconds) const
    {
        std::string now;
        WaitUntil([&] { return (now = ReadFile(dir.file(name))).find(text) != std::string::npos; }, seconds);
        return now;
    }
    void writeConfig(const _testconfig& cfg) const { WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg)); }
    std::string out() const { return ReadFile(dir.file("out.txt")); }

    TempDir dir;
    pid_t pid = -1;
};
#endif

struct ReportRow {
    long cycles = -1;
    std::string operations;
    std::string verdict;
    std::string line;
    bool counted() const { return !operations.empty() && operations[0] >= '1' && operations[0] <= '9'; }
};

// The row of the last ASCII result table whose name starts with `name`:
// names right-aligned in 25 characters, other columns two spaces apart.
inline ReportRow FindReportRow(const std::string& report, const std::string& name)
{
    const auto table = report.rfind("Test Name   Cycles");
    if (table == std::string::npos)
        return {};
    for (auto line = report.find('\n', table); line != std::string::npos; line = report.find('\n', line + 1)) {
        const std::string row = report.substr(line + 1, report.find('\n', line + 1) - line - 1);
        if (row.size() < 26)
            break;
        const std::string head = row.substr(0, 25);
        const auto first = head.find_first_not_of(' ');
        if (first == std::string::npos || head.compare(first, name.size(), name) != 0)
            continue;
        std::vector<std::string> cells;
        for (std::size_t at = 25; (at = row.find_first_not_of(' ', at)) != std::string::npos;) {
            const auto end = row.find("  ", at);
            cells.push_back(row.substr(at, end == std::string::npos ? end : end - at));
            at = end;
        }
        if (cells.size() < 3)
            return {};
        return { std::strtol(cells[0].c_str(), nullptr, 10), cells[1], cells[2], row };
    }
    return {};
}

class Desktop {
public:
    // Empty when the display and every tool are there, else what is missing.
    static std::string missing()
    {
        if (!std::getenv("DISPLAY"))
            return "an X display (run under xvfb-run)";
        for (const char* tool : { "xdotool", "xclip" })
            if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
                return tool;
        return {};
    }

    // The first visible window whose title matches the ERE `pattern`, or empty.
    std::string window(const std::string& pattern) const
    {
        const std::string ids = CommandOutput("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null");
        return ids.substr(0, ids.find('\n'));
    }
    std::string waitForWindow(const std::string& pattern, double seconds) const
    {
        std::string id;
        WaitUntil([&] { return !(id = window(pattern)).empty(); }, seconds);
        return id;
    }
    bool waitUntilGone(const std::string& pattern, double seconds) const
    {
        return WaitUntil([&] { return window(pattern).empty(); }, seconds);
    }

    // Focuses `id` and sends it an xdotool sequence ("key alt", "type text").
    bool keys(const std::string& id, const std::string& sequence) const
    {
        return !id.empty() && std::system(("xdotool windowfocus --sync " + id + " " + sequence).c_str()) == 0;
    }
    bool clickMiddle(const std::string& id) const
    {
        const std::string size = CommandOutput("xdotool getwindowgeometry --shell " + id + " 2>/dev/null");
        const auto w = size.find("WIDTH="), h = size.find("HEIGHT=");
        return w != std::string::npos && h != std::string::npos
            && std::system(("xdotool mousemove --sync --window " + id + " "
                   + std::to_string(std::atoi(size.c_str() + w + 6) / 2) + " "
                   + std::to_string(std::atoi(size.c_str() + h + 7) / 2) + " click 1")
                               .c_str())
            == 0;
    }
    // Alt, then `menu` Rights (0 = first menu) and `item` Downs (1 = first entry).
    bool chooseMenu(const std::string& id, int menu, int item) const
    {
        std::string sequence = "key";
        for (int i = 0; i < menu; ++i)
            sequence += " Right";
        for (int i = 0; i < item; ++i)
            sequence += " Down";
        return keys(id, "key alt") && keys(id, sequence + " Return");
    }

    std::string clipboard() const { return CommandOutput("xclip -o -selection clipboard 2>/dev/null"); }
};
