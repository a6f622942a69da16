#include "TempDir.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvxtest.XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

RecordingSink::RecordingSink()
    : m_previous(GetMessageSink())
{
    SetMessageSink(this);
}

RecordingSink::~RecordingSink()
{
    SetMessageSink(m_previous);
}

int RecordingSink::show(BoxIcon icon, const std::string& caption, const std::string& text,
    const std::vector<std::string>& buttons, int, int)
{
    boxes.push_back({ icon, caption, text, buttons });
    if (answers.empty())
        return -1;
    int a = answers.front();
    answers.pop_front();
    return a;
}

_testconfig ValidConfig()
{
    _testconfig cfg {};
    KalvexTest_SetUpDefault(&cfg);
    std::memcpy(cfg.magic, kConfigMagic, sizeof cfg.magic);
    cfg.version = kConfigVersion;
    return cfg;
}

std::string ConfigBytes(const _testconfig& cfg)
{
    return std::string(reinterpret_cast<const char*>(&cfg), sizeof cfg);
}

std::string GoldenFile(const std::string& path, const std::string& actual)
{
    if (std::getenv("KVX_UPDATE_GOLDEN"))
        WriteFile(path, actual);
    return ReadFile(path);
}
