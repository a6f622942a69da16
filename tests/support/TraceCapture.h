// Collects the debug trace in memory for the lifetime of the object.
#pragma once

#include "DebugTrace.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

class TraceCapture {
public:
    TraceCapture() = default;
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    ~TraceCapture()
    {
        g_fh_debug = m_previous;
        if (m_file)
            std::fclose(m_file);
        std::free(m_buf);
    }
    std::string text()
    {
        std::fflush(m_file);
        return std::string(m_buf, m_size);
    }

private:
    char* m_buf = nullptr;
    std::size_t m_size = 0;
    FILE* m_file = ::open_memstream(&m_buf, &m_size);
    FILE* m_previous = std::exchange(g_fh_debug, m_file);
};
