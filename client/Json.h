// A small JSON writer that keeps keys in the order they are written (tools and people read the dump
// and the trace; a stable, meaningful order helps both). Texts go in as UTF-8.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A JSON string literal (quotes included) of UTF-8 text.
std::string JsonQuote(const std::string& utf8);

class JsonWriter {
public:
    JsonWriter() = default;
    // A writer that hands its text to `sink` in pieces of about 64 KiB as it goes, and the rest at Flush():
    // a document of many rows never sits in memory whole. Text() holds only what is not handed on yet.
    explicit JsonWriter(std::function<void(std::string_view)> sink) : m_sink(std::move(sink)) {}
    void Flush();

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(const std::string& utf8);
    JsonWriter& Number(long long value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // Shorthands for "key": value.
    JsonWriter& Field(std::string_view key, const std::string& utf8) { return Key(key).String(utf8); }
    JsonWriter& Field(std::string_view key, const char* utf8) { return Key(key).String(utf8); }
    JsonWriter& Field(std::string_view key, long long value) { return Key(key).Number(value); }
    JsonWriter& Field(std::string_view key, int value) { return Key(key).Number(value); }
    JsonWriter& Field(std::string_view key, long value) { return Key(key).Number(value); }
    JsonWriter& Field(std::string_view key, bool value) { return Key(key).Bool(value); }
    JsonWriter& Rect(std::string_view key, int left, int top, int width, int height);

    const std::string& Text() const { return m_out; }

private:
    void beforeValue();
    std::string m_out;
    std::function<void(std::string_view)> m_sink;
    std::vector<bool> m_first; // per open container: no element written yet
    bool m_afterKey = false;
};
