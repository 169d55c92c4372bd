// CFixComm's connection and session: connecting, logging in, closing, and reporting failures.
#include "host/com/FixCommImpl.h"
#include "host/com/WireText.h"

#include <cassert>

namespace {

// A server's ticket is 128 characters; anything much longer is not kept.
constexpr std::size_t kLongestTicket = 256;

} // namespace

void CFixComm::Impl::Fail(long failedFunction, int status, const std::string& text) {
    // Every failure text may carry text from the wire (a server's status text, a table name).
    failure.function = failedFunction;
    failure.status = status;
    failure.text = CString(orvo::EscapeControlBytes(text));
    ReportFailure();
}

void CFixComm::Impl::ReportFailure() {
    if (holdFailures)
        heldFailure = true;
    else if (onFailure)
        onFailure(failure);
}

void CFixComm::Impl::CloseConnection() {
    StopReadAhead();
    socket.Close();
    reader.Reset();
    loggedIn = false;
    row.Hide();
}

const std::string& CFixComm::Impl::ServerHost() const {
    return current == 0 ? settings.host : settings.moreServers[current - 1].host;
}

int CFixComm::Impl::ServerPort() const {
    return current == 0 ? settings.port : settings.moreServers[current - 1].port;
}

std::string CFixComm::Impl::ServerName() const {
    return ServerHost() + ":" + std::to_string(ServerPort());
}

auto CFixComm::Impl::TryServer(long forFunction) -> Attempt {
    assert(CallerHoldsConnection());
    retryAfterMs.reset();
    if (!endedForGood.empty() && forFunction != proto::kFunctionLogin) {
        // The server ended the session for good: the password kept in memory is not used again until
        // the caller asks for a login (the user gives it again).
        Fail(forFunction, proto::kStatusNotLoggedIn, endedForGood);
        return Attempt::Refused;
    }
    if (socket.IsOpen() && socket.PeerClosed())
        CloseConnection(); // the server closed an idle connection: reconnect quietly
    if (!socket.IsOpen()) {
        CloseConnection();
        // Every new connection starts with a login: without TLS, the password stays on this machine.
        if (!settings.tls && !settings.allowPlainPassword && !orvo::IsLoopbackHost(ServerHost())) {
            Fail(forFunction, kFixCommPlainPassword,
                 "the password would cross the network to " + ServerName() +
                     " in plain text: turn TLS on for the counter server");
            return Attempt::Refused;
        }
        std::string error;
        if (!socket.Connect(ServerHost(), ServerPort(), settings.connectTimeoutMs, error,
                            orvo::TlsSettings{settings.tls, settings.tlsCaFile})) {
            Fail(forFunction, kTransportFailure,
                 "cannot connect to the counter server " + ServerName() + ": " + error);
            return Attempt::ServerFailed;
        }
    }
    if (RunLogin(forFunction != proto::kFunctionLogin))
        return Attempt::Ok;
    if (failure.status == proto::kStatusLimit)
        return Attempt::Busy;
    // A broken connection, or a server that turned the connection away for another reason than load (its
    // database is unavailable): another server may do. A refused login stands on every server.
    return socket.IsOpen() ? Attempt::Refused : Attempt::ServerFailed;
}

bool CFixComm::Impl::ExchangeLogin(const RequestItems& login) {
    if (!Send(proto::kFunctionLogin, login))
        return false;
    for (;;) {
        switch (NextFrameFromSocket(proto::kFunctionLogin)) {
        case Step::Row:
            continue; // a login reply carries no rows; ignore any
        case Step::Failed:
            TraceReply(proto::kFunctionLogin, 0, failure.status);
            return false;
        case Step::End:
            TraceReply(proto::kFunctionLogin, 0, endStatus);
            return true;
        }
    }
}

void CFixComm::Impl::ForgetTicket() {
    ticket.clear();
    ticketOperator.clear();
}

bool CFixComm::Impl::RunLogin(bool mayUseTicket) {
    const std::string operatorName = settings.operatorName.str();
    if (mayUseTicket && !ticket.empty() && ticketOperator == operatorName) {
        if (!ExchangeLogin({{proto::kTagOperator, operatorName}, {orvo::com::kTagSessionTicket, ticket}}))
            return false;
        if (endStatus == proto::kStatusOk) {
            loggedIn = true;
            return true;
        }
        if (endStatus != proto::kStatusNotPermitted) {
            Fail(proto::kFunctionLogin, endStatus, endText.empty() ? "login refused" : endText);
            return false;
        }
        // Out of date (a new day, a new password) or not this server's database: the password will do.
        ForgetTicket();
    }
    if (!ExchangeLogin({{proto::kTagOperator, operatorName}, {proto::kTagPassword, settings.password.str()}}))
        return false;
    if (endStatus != proto::kStatusOk) {
        Fail(proto::kFunctionLogin, endStatus, endText.empty() ? "login refused" : endText);
        return false;
    }
    loggedIn = true;
    ForgetTicket();
    // The end frame read last is still in hand.
    const std::string_view issued = proto::ValueOf(frame.items, orvo::com::kTagSessionTicket);
    if (!issued.empty() && issued.size() <= kLongestTicket) {
        ticket.assign(issued);
        ticketOperator = operatorName;
    }
    return true;
}

void CFixComm::Impl::TraceReply(long tracedFunction, long replyRows, int status) {
    if (!onTrace)
        return;
    FixCommTraceEvent event;
    event.kind = FixCommTraceEvent::Reply;
    event.function = tracedFunction;
    event.rows = replyRows;
    event.status = status;
    onTrace(event);
}
