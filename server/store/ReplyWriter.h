// Streams one reply: R frames as rows are produced, then one E frame. Frames collect in a small buffer
// that goes to the sink whenever it fills, so a reply of any length costs a fixed amount of memory.
#pragma once

#include "protocol/FrameBuilder.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orvo::server {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all bytes or returns false (the peer is gone or stopped reading).
    virtual bool write(std::string_view bytes) = 0;
};

class ReplyWriter {
public:
    ReplyWriter(ByteSink& sink, std::uint32_t seq);
    ReplyWriter(const ReplyWriter&) = delete;
    ReplyWriter& operator=(const ReplyWriter&) = delete;

    // One row: beginRow, add items (values UTF-8, sent as GBK), endRow. endRow returns false once the
    // sink has failed or a row could not be encoded (see refusedRows): the caller stops producing rows.
    void beginRow();
    void add(std::uint32_t tag, std::string_view utf8Value);
    void addNamed(std::string_view column, std::string_view utf8Value);
    bool endRow();

    // For handlers that know their columns: `tagDigits` is a valid tag's decimal text, made once per
    // query. A text value is looked at once: ASCII without 0x01 goes out as it is, anything else as add()
    // sends it. An integer needs no look at all. A wire value is already what toWire() makes of a text.
    void addText(std::string_view tagDigits, std::string_view utf8Value);
    void addInteger(std::string_view tagDigits, std::int64_t value);
    void addWire(std::string_view tagDigits, std::string_view wireValue);

    // A row's items encoded ahead (kept, say, between replies): appended to `items` exactly as the add
    // calls above would write them into a row.
    void encodeText(std::string& items, std::string_view tagDigits, std::string_view utf8Value);
    static void encodeInteger(std::string& items, std::string_view tagDigits, std::int64_t value);
    static void encodeWire(std::string& items, std::string_view tagDigits, std::string_view wireValue);
    // A whole row of such items. It never goes to the sink by itself (a caller may hold a lock meanwhile):
    // flushIfFull() after it. A row over the frame limit is refused, as endRow() refuses it.
    void addEncodedRow(std::string_view items);
    // From now on every row sent is also appended to *into (null: no more), as its length (4 bytes, most
    // significant first) and its items, for addRecordedRows to send the same rows in another reply.
    void recordRows(std::string* into) { m_record = into; }
    // Rows recorded so, added as addEncodedRow adds them; false as flushIfFull gives false.
    bool addRecordedRows(std::string_view recorded);
    // Sends the buffer when it has filled; false once the sink has failed or a row was refused.
    bool flushIfFull();

    // What a UTF-8 text becomes on the wire: GBK, with any 0x01 (which would end the item) as '?'.
    static void toWire(std::string_view utf8, std::string& out);
    // True when text goes on the wire as it is: every byte below 0x80 and none 0x01.
    static bool isPlainWire(std::string_view text);

    // The end frame (text UTF-8), then everything still buffered goes out.
    bool end(int status, std::string_view utf8Text);
    // An item the end frame carries after the row count (ASCII values; a successful end only).
    void addEndItem(std::uint32_t tag, std::string value) {
        m_endItems.push_back({tag, std::move(value), false});
    }
    // One that explains a failure: carried whatever the status.
    void addFailureItem(std::uint32_t tag, std::string value) {
        m_endItems.push_back({tag, std::move(value), true});
    }

    std::uint64_t rows() const { return m_rows; }
    bool failed() const { return m_failed; }
    // Rows that no frame could hold (a value over the frame limit): the reply is incomplete and must end
    // in a failure. refusedRowKey is the first such row's first item ("797=123", its serial), cut short.
    std::uint64_t refusedRows() const { return m_refusedRows; }
    const std::string& refusedRowKey() const { return m_refusedRowKey; }
    bool ended() const { return m_ended; }

    static constexpr std::size_t kFlushBytes = 64 * 1024;
    static constexpr std::size_t kGbkCacheEntries = 4096;
    static constexpr std::size_t kGbkCacheValueBytes = 64;

private:
    std::string_view wireValue(std::string_view utf8Value);
    bool flush();
    void refuseRow(std::string_view items);
    const std::string& rowHead();

    ByteSink& m_sink;
    std::uint32_t m_seq;
    std::string m_buffer;
    std::string m_scratch;
    std::string m_rowHead; // "35=R", "34=seq" items of every row of this reply, made once
    // Names and status texts repeat down a long reply: their GBK forms are kept for the reply's
    // length, up to a fixed number of entries.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> m_gbkCache;
    std::optional<proto::FrameBuilder> m_row;
    std::uint64_t m_rows = 0;
    std::size_t m_rowStart = 0; // where the row being built begins in m_buffer
    std::uint64_t m_refusedRows = 0;
    std::string m_refusedRowKey;
    bool m_failed = false;
    bool m_ended = false;
    struct EndItem {
        std::uint32_t tag;
        std::string value;
        bool onFailure;
    };
    std::vector<EndItem> m_endItems;
    std::string* m_record = nullptr;
    void record(std::string_view items);
};

} // namespace orvo::server
