// --trace FILE: one JSON line per request the channel sends and per reply it reads, texts in UTF-8.
//   {"request": 16476, "items": [["697", "0101"], ["9020", "0"]]}
//   {"reply": 16476, "rows": 12, "status": 0}
#pragma once

#include <cstdio>
#include <string>

struct FixCommTraceEvent;

// The JSON line of one event (without the newline).
std::string TraceLine(const FixCommTraceEvent& event);

class TraceLog {
public:
    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    bool Open(const std::string& path, std::string& error); // truncates
    void Write(const FixCommTraceEvent& event);             // flushed at once: a crash loses nothing
    bool IsOpen() const { return m_file != nullptr; }

private:
    std::FILE* m_file = nullptr;
};
