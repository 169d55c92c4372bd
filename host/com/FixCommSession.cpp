// CFixComm's connection and session: connecting, logging in, closing, and reporting failures.
#include "host/com/FixCommImpl.h"
#include "host/com/WireText.h"

#include <cassert>

void CFixComm::Impl::Fail(long failedFunction, int status, const std::string& text) {
    // Every failure text may carry text from the wire (a server's status text, a table name).
    failure.function = failedFunction;
    failure.status = status;
    failure.text = CString(orvo::EscapeControlBytes(text));
    if (onFailure)
        onFailure(failure);
}

void CFixComm::Impl::CloseConnection() {
    StopReadAhead();
    socket.Close();
    reader.Reset();
    loggedIn = false;
    row.Hide();
}

std::string CFixComm::Impl::ServerName() const {
    return settings.host + ":" + std::to_string(settings.port);
}

bool CFixComm::Impl::EnsureSession(long forFunction) {
    assert(CallerHoldsConnection());
    if (socket.IsOpen() && socket.PeerClosed())
        CloseConnection(); // the server closed an idle connection: reconnect quietly
    if (!socket.IsOpen()) {
        CloseConnection();
        // Every new connection starts with a login: without TLS, the password stays on this machine.
        if (!settings.tls && !settings.allowPlainPassword && !orvo::IsLoopbackHost(settings.host)) {
            Fail(forFunction, kFixCommPlainPassword,
                 "the password would cross the network to " + ServerName() +
                     " in plain text: turn TLS on for the counter server");
            return false;
        }
        std::string error;
        if (!socket.Connect(settings.host, settings.port, settings.connectTimeoutMs, error,
                            orvo::TlsSettings{settings.tls, settings.tlsCaFile})) {
            Fail(forFunction, kTransportFailure,
                 "cannot connect to the counter server " + ServerName() + ": " + error);
            return false;
        }
    }
    if (forFunction == proto::kFunctionLogin || loggedIn)
        return true;
    return RunLogin();
}

bool CFixComm::Impl::RunLogin() {
    const RequestItems login = {{proto::kTagOperator, settings.operatorName.str()},
                                {proto::kTagPassword, settings.password.str()}};
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
            if (endStatus == proto::kStatusOk) {
                loggedIn = true;
                return true;
            }
            Fail(proto::kFunctionLogin, endStatus, endText.empty() ? "login refused" : endText);
            return false;
        }
    }
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
