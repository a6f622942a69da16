// Test helpers for real files in a private temporary directory, a message
// sink that records boxes and answers them from a script, and captures of
// what a function writes or what a child process returns.
#pragma once

#include "ConfigRecord.h"
#include "MessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class TempDir {
public:
    TempDir()
    {
        m_path = (std::filesystem::temp_directory_path() / "kvxtest.XXXXXX").string();
        if (!::mkdtemp(m_path.data()))
            throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline bool FileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// The content of the golden file at `path`. With KVX_UPDATE_GOLDEN set, it
// is first written from `actual` (review the diff before committing).
inline std::string GoldenFile(const std::string& path, const std::string& actual)
{
    if (std::getenv("KVX_UPDATE_GOLDEN"))
        WriteFile(path, actual);
    return ReadFile(path);
}

// The file at `path` with each line but comments ('#') and empty ones made
// again by `remake`, for golden files whose lines hold their own inputs.
inline std::string RemadeLines(const std::string& path, const std::function<std::string(std::string)>& remake)
{
    std::istringstream in(ReadFile(path));
    std::string made;
    for (std::string line; std::getline(in, line);)
        made += (line.empty() || line[0] == '#' ? line : remake(line)) + "\n";
    return made.empty() ? "no lines in " + path : made;
}

// A configuration record as the program saves it: the defaults, the magic
// and the version.
inline _testconfig ValidConfig()
{
    _testconfig cfg {};
    KalvexTest_SetUpDefault(&cfg);
    std::memcpy(cfg.magic, kConfigMagic, sizeof cfg.magic);
    cfg.version = kConfigVersion;
    return cfg;
}

// The bytes of a configuration file holding `cfg`.
inline std::string ConfigBytes(const _testconfig& cfg)
{
    return std::string(reinterpret_cast<const char*>(&cfg), sizeof cfg);
}

// What `write` writes to the stream it is given.
inline std::string Captured(const std::function<void(FILE*)>& write)
{
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = ::open_memstream(&buf, &len);
    write(f);
    std::fclose(f);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

// Runs `body` in a forked child and returns the text it returned, or says
// how the child ended when it did not return normally.
inline std::string InChild(const std::function<std::string()>& body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string out = body();
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "child failed: " + out;
}

struct RecordedBox {
    BoxIcon icon;
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;
};

// Installs itself as the message sink for its lifetime. Answers each box
// with the next scripted index, or -1 (dismissed) when the script is empty.
class RecordingSink : public MessageSink {
public:
    RecordingSink() { SetMessageSink(this); }
    ~RecordingSink() override { SetMessageSink(m_previous); }
    int show(BoxIcon icon, const std::string& caption, const std::string& text, const std::vector<std::string>& buttons,
        int, int) override
    {
        boxes.push_back({ icon, caption, text, buttons });
        if (answers.empty())
            return -1;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }

    std::vector<RecordedBox> boxes;
    std::deque<int> answers;

private:
    MessageSink* m_previous = GetMessageSink();
};
