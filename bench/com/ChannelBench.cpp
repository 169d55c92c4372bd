// The client reading a 100,000-row reply (25 items a row, about 33 MB on the wire) through CFixComm from
// a counter server on loopback, over plain TCP and over TLS: what TLS adds on the client's decode side
// (records decrypted and checked, one more copy). Run: build/release/bin/bench_com_channel
#include "host/com/FixComm.h"
#include "tests/support/FakeCounterServer.h"
#include "tests/support/TestCertificates.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kRows = 100000;
constexpr long kFunction = 16476;

orvo::test::FakeItems Row(std::size_t row) {
    static const char* const tags[] = {"797", "605",  "613",  "830",  "727", "719",  "683",  "1718", "684",
                                       "682", "1783", "1800", "742",  "750", "7107", "1240", "7153", "599",
                                       "697", "610",  "720",  "1842", "528", "886",  "1836"};
    orvo::test::FakeItems items;
    items.reserve(25);
    for (std::size_t i = 0; i < 25; ++i)
        items.emplace_back(tags[i], i % 3 == 0   ? std::to_string(1000000 + row * 7 + i)
                                    : i % 3 == 1 ? std::string("\xD5\xC5\xC8\xFD\xB7\xE1")
                                                 : std::string("2026.12.07"));
    return items;
}

void BM_ReadReply(benchmark::State& state) {
    const bool tls = state.range(0) != 0;
    const orvo::test::TestCertificates certificates = orvo::test::MakeTestCertificates("DNS:localhost");
    const std::string authority = orvo::test::WriteTempFile("orvo-bench-ca", certificates.authorityPem);
    auto server = tls ? std::make_unique<orvo::test::FakeCounterServer>(certificates)
                      : std::make_unique<orvo::test::FakeCounterServer>();
    orvo::test::FakeReply reply;
    reply.generatedRows = kRows;
    reply.generate = Row;
    server->Script(kFunction, reply);

    FixCommSettings settings{"localhost", server->port(), "teller", "secret", 5000, 30000};
    settings.tls = tls;
    settings.tlsCaFile = authority;
    CFixComm comm(settings);
    std::size_t bytes = 0;
    for (auto _ : state) {
        comm.CreateHead(kFunction);
        std::size_t rows = 0;
        while (comm.More()) {
            bytes += comm.GetItemView(1836).size();
            ++rows;
        }
        if (rows != kRows || !comm.LastReplyOk()) {
            state.SkipWithError(comm.LastFailure().text.str().c_str());
            break;
        }
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kRows));
    std::remove(authority.c_str());
}
BENCHMARK(BM_ReadReply)->ArgName("tls")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
