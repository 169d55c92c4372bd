#include "client/Json.h"

#include <cstdio>

std::string JsonQuote(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void JsonWriter::Flush() {
    if (m_sink && !m_out.empty()) {
        m_sink(m_out);
        m_out.clear();
    }
}

void JsonWriter::beforeValue() {
    constexpr std::size_t kSinkPiece = 64 * 1024;
    if (m_sink && m_out.size() >= kSinkPiece)
        Flush();
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (!m_first.back())
            m_out += ", ";
        m_first.back() = false;
    }
}

JsonWriter& JsonWriter::BeginObject() {
    beforeValue();
    m_out += '{';
    m_first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    m_out += '}';
    m_first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    beforeValue();
    m_out += '[';
    m_first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    m_out += ']';
    m_first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    beforeValue();
    m_out += JsonQuote(std::string(key));
    m_out += ": ";
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& utf8) {
    beforeValue();
    m_out += JsonQuote(utf8);
    return *this;
}

JsonWriter& JsonWriter::Number(long long value) {
    beforeValue();
    m_out += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    beforeValue();
    m_out += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    beforeValue();
    m_out += "null";
    return *this;
}

JsonWriter& JsonWriter::Rect(std::string_view key, int left, int top, int width, int height) {
    Key(key).BeginArray().Number(left).Number(top).Number(width).Number(height).EndArray();
    return *this;
}
