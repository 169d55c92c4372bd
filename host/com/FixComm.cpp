// CFixComm: one synchronous request at a time over the counter channel protocol (see FixCommImpl.h): the
// operations the module and the host call.
#include "host/com/FixComm.h"

#include "host/com/FixCommImpl.h"
#include "platform/TextNumbers.h"

CFixComm::CFixComm() : m_impl(std::make_unique<Impl>(m_row)) {}

CFixComm::CFixComm(FixCommSettings settings) : CFixComm() {
    m_impl->settings = std::move(settings);
}

CFixComm::~CFixComm() = default;

void CFixComm::Configure(FixCommSettings settings) {
    m_impl->settings = std::move(settings);
    m_impl->current = 0;
    m_impl->ForgetTicket(); // issued under the settings replaced
    m_impl->endedForGood.clear();
}

void CFixComm::CreateHead(long function, int /*flag: always -1, reserved*/) {
    Impl& d = *m_impl;
    d.StopReadAhead();
    d.state = Impl::State::Building; // an unread reply is skipped by its sequence number later
    d.row.Hide();
    d.lastOk = false;
    d.function = function;
    d.items.clear();
    d.requestError.clear();
    d.rows = 0;
    d.endItems.clear();
    d.dropRowsRead = nullptr;
    if (function <= 0 || function > static_cast<long>(proto::kMaxTag))
        d.requestError = "function number " + std::to_string(function) + " out of range";
}

BOOL CFixComm::SetItem(long tag, LPCTSTR value) {
    return m_impl->AddItem(tag, value ? value : "") ? TRUE : FALSE;
}

BOOL CFixComm::SetItem(long tag, long value) {
    return m_impl->AddItem(tag, std::to_string(value)) ? TRUE : FALSE;
}

void CFixComm::RepeatFromStartOnFailover(std::function<void()> dropRowsRead) {
    if (m_impl->state == Impl::State::Building)
        m_impl->dropRowsRead = std::move(dropRowsRead);
}

BOOL CFixComm::More(void* /*unused*/) {
    if (m_impl->Advance())
        return TRUE;
    // Let go of the caller's code as soon as the reply is over: it may belong to a library that is
    // unloaded before the channel goes.
    m_impl->dropRowsRead = nullptr;
    return FALSE;
}

CString CFixComm::GetItem(long tag, int index) {
    return CString(GetItemView(tag, index));
}

std::string_view CFixComm::GetRepeatedItemView(long tag, int index) {
    const proto::Item* item = m_row.Find(tag, index);
    return item ? item->value : std::string_view();
}

CString CFixComm::GetEndItem(long tag) const {
    for (const auto& [itemTag, value] : m_impl->endItems)
        if (static_cast<long>(itemTag) == tag)
            return CString(value);
    return CString();
}

BOOL CFixComm::LastReplyOk() const {
    return m_impl->lastOk ? TRUE : FALSE;
}

BOOL CFixComm::Login() {
    Impl& d = *m_impl;
    d.StopReadAhead();
    d.state = Impl::State::Idle;
    d.row.Hide();
    d.lastOk = false;
    d.lastOk = d.EnsureSession(proto::kFunctionLogin);
    if (d.lastOk)
        d.endedForGood.clear();
    return d.lastOk ? TRUE : FALSE;
}

bool CFixComm::SessionEndedForGood() const {
    return !m_impl->endedForGood.empty();
}

BOOL CFixComm::Heartbeat() {
    CreateHead(proto::kFunctionHeartbeat);
    while (More()) {
    }
    return m_impl->lastOk ? TRUE : FALSE;
}

bool CFixComm::IsConnected() const {
    return m_impl->socket.IsOpen();
}

std::string CFixComm::ServerInUse() const {
    return m_impl->ServerName();
}

void CFixComm::Disconnect() {
    m_impl->CloseConnection();
    m_impl->state = Impl::State::Idle;
}

std::size_t CFixComm::ReceiveBufferBytes() const {
    if (m_impl->readAhead)
        return 0; // the reader is the read-ahead thread's until the reply ends
    return m_impl->reader.Capacity();
}

const FixCommFailure& CFixComm::LastFailure() const {
    return m_impl->failure;
}

void CFixComm::SetFailureCallback(std::function<void(const FixCommFailure&)> callback) {
    m_impl->onFailure = std::move(callback);
}

void CFixComm::SetTraceCallback(std::function<void(const FixCommTraceEvent&)> callback) {
    m_impl->onTrace = std::move(callback);
}

void CFixComm::SetWaitCallback(std::function<bool(long rows)> callback) {
    m_impl->onWait = std::move(callback);
}

void CFixComm::SetUserTextCallback(std::function<CString(const CString& text)> callback) {
    m_impl->userText = std::move(callback);
}

CString CFixComm::UserText(const CString& text) const {
    return m_impl->userText ? m_impl->userText(text) : text;
}

void CFixComm::SetBusyCallback(std::function<void(const FixCommBusy&)> callback) {
    m_impl->onBusy = std::move(callback);
}

void CFixComm::SetServerChangeCallback(
    std::function<void(const std::string& from, const std::string& to, const std::string& why)> callback) {
    m_impl->onServerChange = std::move(callback);
}
