// A CFixComm wired to a FakeCounterServer, with short time-outs and every failure and trace collected.
#pragma once

#include "host/com/FixComm.h"
#include "tests/support/FakeCounterServer.h"

#include <chrono>
#include <string>
#include <vector>

struct FixCommFixture {
    orvo::test::FakeCounterServer server;
    CFixComm comm;
    std::vector<FixCommFailure> failures;
    std::vector<FixCommTraceEvent> trace;

    explicit FixCommFixture(int replyTimeoutMs = 3000) {
        FixCommSettings settings;
        settings.host = "127.0.0.1";
        settings.port = server.port();
        settings.operatorName = "teller";
        settings.password = "secret";
        settings.connectTimeoutMs = 2000;
        settings.replyTimeoutMs = replyTimeoutMs;
        comm.Configure(settings);
        comm.SetFailureCallback([this](const FixCommFailure& f) { failures.push_back(f); });
        comm.SetTraceCallback([this](const FixCommTraceEvent& e) { trace.push_back(e); });
    }

    // Sends `function` with no items and counts the rows.
    int Count(long function) {
        comm.CreateHead(function, -1);
        int rows = 0;
        while (comm.More(nullptr))
            ++rows;
        return rows;
    }
};

inline orvo::test::FakeItems RuleRow(int serial, const std::string& name) {
    return {{"797", std::to_string(serial)}, {"605", "0101000" + std::to_string(serial)}, {"613", name}};
}
