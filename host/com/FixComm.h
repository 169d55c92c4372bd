// OvCom15: the request channel to the counter server. One request at a time, synchronous; reply rows
// stream, so only the current row is held (past a thousand rows, a few batches read ahead of it). Failures
// make More() false and are recorded and reported.
#pragma once

#include "host/com/ReplyRow.h"
#include "platform/CString.h"
#include "platform/TextNumbers.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CMemRecord;

// One counter server of the channel's list.
struct FixCommServer {
    std::string host;
    int port = 0;
};

struct FixCommSettings {
    std::string host = "127.0.0.1"; // the first server
    int port = 0;
    CString operatorName;        // GBK
    CString password;            // GBK; held in memory only
    int connectTimeoutMs = 5000; // also the time within which a busy server is tried again
    int replyTimeoutMs = 30000;
    // TLS: the server's certificate must chain to these authorities (PEM file; empty: the system's) and
    // name `host`. Without TLS the password is sent only to a loopback address unless allowPlainPassword.
    bool tls = false;
    std::string tlsCaFile{};
    bool allowPlainPassword = false;
    // Further servers on the same database. The channel stays with the server that answered; when it cannot
    // be reached, closes the connection or times out, the channel moves on to the next (round the list),
    // logs in there and repeats the query that failed.
    std::vector<FixCommServer> moreServers{};
};

// What went wrong with the last failed request (status as in the protocol's tag 39; -1 for a transport
// failure such as a refused connection, a time-out or a broken frame; kFixCommPlainPassword when the
// channel would not send the password in plain text).
inline constexpr int kFixCommPlainPassword = -2;

struct FixCommFailure {
    long function = 0;
    int status = 0;
    CString text; // GBK
};

// A server answered "busy" (status 5) to a connection or a login: the channel waits `waitMs` and tries
// again (the attempt-th time), within its connect time-out.
struct FixCommBusy {
    std::string server; // HOST:PORT
    int waitMs = 0;
    int attempt = 0;
    CString text; // the server's word, GBK
};

// One request or reply as the trace sees it: items in order, texts GBK.
struct FixCommTraceEvent {
    enum Kind { Request, Reply } kind = Request;
    long function = 0;
    std::vector<std::pair<std::string, CString>> items; // request items (tag, value)
    long rows = 0;                                      // reply: rows read
    int status = 0;                                     // reply: status
};

class CFixComm {
public:
    CFixComm();
    explicit CFixComm(FixCommSettings settings);
    ~CFixComm();
    CFixComm(const CFixComm&) = delete;
    CFixComm& operator=(const CFixComm&) = delete;

    void Configure(FixCommSettings settings); // takes effect at the next connect

    // --- What the module calls ------------------------------------------------------------------
    void CreateHead(long function, int flag = -1); // new empty request; an unread reply is abandoned
    BOOL SetItem(long tag, LPCTSTR value);
    BOOL SetItem(long tag, long value);
    // Declares the request in hand a read that may be asked again from the start: when its server dies
    // part-way through the reply and the list holds another server, the channel sends it there and
    // More() goes on with the first row of the new reply, having called dropRowsRead first (the caller
    // drops what it kept of the cut reply). The cut is logged, not reported as a failure, unless the
    // repeat fails too. Held until the reply ends (More() returns false) or the next CreateHead().
    void RepeatFromStartOnFailover(std::function<void()> dropRowsRead);
    BOOL More(void* unused = nullptr);         // first call sends and waits; later calls advance
    CString GetItem(long tag, int index = -1); // "" when the row lacks the tag
    // The bytes GetItem would copy, without the copy: empty when the row lacks the tag. The view points into
    // the channel's receive buffer and holds until the next More(), CreateHead() or Disconnect(). Inline:
    // a reply's every item is read through here, and the first of a tag costs one probe of the row's index.
    std::string_view GetItemView(long tag, int index = -1) {
        if (index > 0)
            return GetRepeatedItemView(tag, index);
        const orvo::proto::Item* item = m_row.First(tag);
        return item ? item->value : std::string_view();
    }
    // atol / atof of the text; a missing item reads as "", so 0.
    long GetLong(long tag, int index = -1) { return orvo::TextToLong(GetItemView(tag, index)); }
    double GetDouble(long tag, int index = -1) { return orvo::TextToDouble(GetItemView(tag, index)); }
    // Once More() has returned false: TRUE when the reply ended with status 0; FALSE for a refusal, a reply
    // cut off by a broken connection or frame, or a time-out, when the rows read are not the whole answer.
    BOOL LastReplyOk() const;
    // Once More() has returned false on the reply's end frame: that frame's item of the tag ("" when it
    // has none), for functions that answer with items beside the status (a revision to ask from).
    CString GetEndItem(long tag) const;

    // --- What the host calls --------------------------------------------------------------------
    BOOL Login();                                        // function 1 with the configured operator
    BOOL DownloadTable(LPCTSTR name, CMemRecord& table); // function 2; layout from the column names
    BOOL Heartbeat();                                    // function 3
    bool IsConnected() const;
    void Disconnect();
    // The server ended the session for good (an administrator, the operator disabled, removed or given
    // a new password): every request fails at once with that reason, and only Login() (the user's
    // password again) or new settings start a session.
    bool SessionEndedForGood() const;
    // HOST:PORT of the server in use (the last one connected to, or the one to be tried next).
    std::string ServerInUse() const;

    // Bytes the channel keeps for reading replies between requests (its receive buffer): bounded by the
    // largest frame plus one read, however many rows a reply has. 0 while a long reply is read ahead.
    std::size_t ReceiveBufferBytes() const;

    // The callbacks run inside the call that fails or traces (More, Login, ...); they must not use the
    // channel themselves.
    const FixCommFailure& LastFailure() const;
    void SetFailureCallback(std::function<void(const FixCommFailure&)> callback);
    void SetTraceCallback(std::function<void(const FixCommTraceEvent&)> callback);
    // Called while a reply is awaited (after each receive, and at least every 100 ms of silence) with the
    // reply rows read so far; returning false cancels the request: More() returns false, the failure is
    // reported, and the connection is closed, so that the rest of the reply does not hold up the next
    // request, which goes out at once on a new connection (logged in with the session ticket).
    void SetWaitCallback(std::function<bool(long rows)> callback);
    // How the host words a failure text for the user, in the user's language (GBK in, GBK out); the log
    // keeps the channel's own words. Without one, UserText() gives the text as it is.
    void SetUserTextCallback(std::function<CString(const CString& text)> callback);
    CString UserText(const CString& text) const;
    // Called before each wait for a busy server.
    void SetBusyCallback(std::function<void(const FixCommBusy&)> callback);
    // Called when the channel leaves a server of its list for the next one: from, to, and why.
    void SetServerChangeCallback(
        std::function<void(const std::string& from, const std::string& to, const std::string& why)> callback);

private:
    std::string_view GetRepeatedItemView(long tag, int index);

    struct Impl;
    orvo::com::ReplyRow m_row; // before m_impl, which refers to it
    std::unique_ptr<Impl> m_impl;
};
