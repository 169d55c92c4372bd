// The differential check's window: stop-loss rules kept only by applying 16500's answers, and compared
// with a full query.
#pragma once

#include "bench/server/ChangesCheck.h"
#include "tests/server/RawClient.h"

#include <cstdio>
#include <memory>
#include <string>

namespace orvo::bench::changes_check {

using test::RawClient;
using test::Reply;
using test::Row;

// A window of stop-loss rules kept by changes, against one server at a time.
struct Checker {
    std::unique_ptr<RawClient> client;
    std::string revision;
    Window rows;

    int port = -1;
    long relogins = 0;
    Clock::time_point answeredAt; // of the last 16500, before any full query it asked for

    bool connect(int to) {
        port = to;
        client = std::make_unique<RawClient>();
        return client->connect(port, 30000) && client->login("admin", "admin");
    }
    // A call; a session ended by the server (a restored database does not hold it) logs in again, as the
    // client does.
    Reply call(std::uint32_t function, const Items& items) {
        Reply r = client->call(function, items);
        if (r.complete && r.status == 2 && connect(port)) {
            ++relogins;
            r = client->call(function, items);
        }
        return r;
    }
    static Window windowOf(const Reply& r) {
        Window w;
        for (const Row& row : r.rows)
            w[std::stoll(row.get(797))] = row.items;
        return w;
    }
    // Asks once and applies the answer; ranFull says it was "run the full query".
    bool ask(bool& ranFull, long& answerRows) {
        Items items = {{1842, "3"}, {697, ""}, {9020, "0"}, {9101, revision}};
        const Reply r = call(16500, items);
        if (!r.complete || r.status != 0) {
            std::fprintf(stderr, "16500 failed: %d %s\n", r.status, r.text.c_str());
            return false;
        }
        answeredAt = Clock::now();
        ranFull = r.end.get(9104) == "1";
        answerRows = static_cast<long>(r.rows.size());
        revision = r.end.get(9102);
        if (ranFull) {
            const Reply full = call(16477, kFull);
            if (!full.complete || full.status != 0)
                return false;
            rows = windowOf(full);
            return true;
        }
        for (const Row& row : r.rows) {
            const long long serial = std::stoll(row.get(797));
            if (row.get(9103) == "1")
                rows.erase(serial);
            else
                rows[serial] = row.items;
        }
        return true;
    }
    // The rows that differ from a full query now.
    long differences() {
        const Reply full = call(16477, kFull);
        if (!full.complete || full.status != 0)
            return -1;
        const Window now = windowOf(full);
        long differ = 0;
        for (const auto& [serial, items] : now) {
            const auto it = rows.find(serial);
            differ += it == rows.end() || it->second != items;
        }
        for (const auto& [serial, items] : rows)
            differ += now.count(serial) == 0;
        return differ;
    }
};

} // namespace orvo::bench::changes_check
