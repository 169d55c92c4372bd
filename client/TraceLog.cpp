#include "client/TraceLog.h"

#include "client/Json.h"
#include "host/com/FixComm.h"

#include <cerrno>
#include <cstring>

namespace {

// A login's password (554) and session ticket (62) never reach the file, whoever made the event.
bool IsLoginSecret(long function, const std::string& tag) {
    return function == 1 && (tag == "554" || tag == "62");
}

} // namespace

std::string TraceLine(const FixCommTraceEvent& event) {
    JsonWriter json;
    json.BeginObject();
    if (event.kind == FixCommTraceEvent::Request) {
        json.Field("request", event.function);
        json.Key("items").BeginArray();
        for (const auto& [tag, value] : event.items)
            json.BeginArray()
                .String(tag)
                .String(IsLoginSecret(event.function, tag) ? std::string("***") : value.ToUtf8())
                .EndArray();
        json.EndArray();
    } else {
        json.Field("reply", event.function).Field("rows", event.rows).Field("status", event.status);
    }
    json.EndObject();
    return json.Text();
}

TraceLog::~TraceLog() {
    if (m_file)
        std::fclose(m_file);
}

bool TraceLog::Open(const std::string& path, std::string& error) {
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "w");
    if (!m_file) {
        error = "cannot write the trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void TraceLog::Write(const FixCommTraceEvent& event) {
    if (!m_file)
        return;
    const std::string line = TraceLine(event) + "\n";
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}
