// The stop-loss / take-profit query of N rows through a real CFixComm from a fake server on loopback into
// the record set, side by side with decoding the same reply bytes alone; the linked-order query with
// 10,000 rules and 10,000 sub-groups; and code translation against a dictionary of a real size.
#include "QueryTestData.h"
#include "bench/support/StopProfitReply.h"
#include "tests/support/ModuleChannel.h"

#include "host/dbm/MemRecord.h"
#include "host/stock/DataDictionary.h"
#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

using benchsupport::DecodeStopProfitReply;
using benchsupport::LoopClock;
using benchsupport::SetMsPer1000Rows;
using benchsupport::StopProfitRow;
using orvo::test::FakeItems;

namespace {

// "G12": a one-letter prefix and a number. Appended rather than `"G" + std::to_string(n)`, which GCC 12
// at -O3 flags with a false -Wrestrict.
std::string Named(char prefix, std::size_t number) {
    std::string text(1, prefix);
    text += std::to_string(number);
    return text;
}

// The fake server and the channel to it as g_pFixComm, and the code tables behind the module's globals.
struct Bench : orvo::test::ModuleChannel {
    querytest::CodeTables tables;
};

void BM_StopProfitQueryIntoRecordSet(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    Bench bench;
    orvo::test::FakeReply reply;
    reply.generatedRows = rows;
    reply.generate = StopProfitRow;
    bench.server.Script(16477, reply);

    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_STOP_PROFIT), 0);
    QueryConditions cond;
    cond.m_strValidity = "0";
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        QueryStopProfitRules(cond, rec);
        benchmark::DoNotOptimize(rec.GetRecordCount());
        clock.Stop();
    }
    if (rec.GetRecordCount() != static_cast<long>(rows))
        state.SkipWithError("wrong row count");
    SetMsPer1000Rows(state, rows, clock);
}

// The same request and reply through the channel, rows read to the end but no item looked at: what the
// transport and the channel cost before the query fills a single column.
void BM_SameReplyThroughChannelOnly(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    Bench bench;
    orvo::test::FakeReply reply;
    reply.generatedRows = rows;
    reply.generate = StopProfitRow;
    bench.server.Script(16477, reply);
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        g_pFixComm->CreateHead(16477, -1);
        g_pFixComm->SetItem(697, "");
        g_pFixComm->SetItem(9020, "0");
        std::size_t read = 0;
        while (g_pFixComm->More(nullptr))
            ++read;
        clock.Stop();
        if (read != rows)
            state.SkipWithError("wrong row count");
    }
    SetMsPer1000Rows(state, rows, clock);
}

// The same reply bytes (rows and end of reply), decoded frame by frame with the protocol's reader and
// header decoder, as the channel does before the module reads a single item.
void BM_DecodeSameBytesOnly(benchmark::State& state) {
    DecodeStopProfitReply(state);
}

void BM_LinkedQuery(benchmark::State& state) {
    const auto rules = static_cast<std::size_t>(state.range(0));
    const auto subGroups = static_cast<std::size_t>(state.range(1));
    constexpr std::size_t kSubGroupsPerGroup = 10;
    const std::size_t groups = subGroups / kSubGroupsPerGroup;
    Bench bench;

    orvo::test::FakeReply groupReply;
    groupReply.generatedRows = groups;
    groupReply.generate = [](std::size_t i) -> FakeItems {
        return {{"1837", std::to_string(i + 1)},
                {"650", Named('G', i + 1)},
                {"605", "C1"},
                {"710", "1"},
                {"697", "0101"},
                {"1844", "1"},
                {"570", "0"}};
    };
    orvo::test::FakeReply subGroupReply;
    subGroupReply.generatedRows = subGroups;
    subGroupReply.generate = [](std::size_t i) -> FakeItems {
        return {{"1837", std::to_string(i / kSubGroupsPerGroup + 1)},
                {"1839", std::to_string(i % kSubGroupsPerGroup + 1)},
                {"3031", Named('S', i)},
                {"1840", "1"},
                {"812", "2026.12.01"},
                {"1845", "08:00:00"}};
    };
    orvo::test::FakeReply ruleReply;
    ruleReply.generatedRows = rules;
    ruleReply.generate = [groups](std::size_t i) -> FakeItems {
        return {{"797", std::to_string(i + 1)},
                {"605", "C1"},
                {"613", "N"},
                {"1837", std::to_string(i % (groups + 1) + 1)}, // a few groups that were not loaded
                {"1839", std::to_string(i % (kSubGroupsPerGroup + 1))},
                {"1840", "1"},
                {"719", "cu2501"},
                {"683", "1"},
                {"1718", "1"},
                {"1841", "71230"},
                {"684", "3"},
                {"528", "1"},
                {"886", "0"},
                {"750", "09:00:00"},
                {"7107", "2026.12.07"},
                {"599", "SQ"},
                {"1716", "J1"},
                {"1842", "5"}};
    };
    bench.server.Script(16425, groupReply);
    bench.server.Script(16433, subGroupReply);
    bench.server.Script(16485, ruleReply);

    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_LINKED), 0);
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        QueryLinkedRules(QueryConditions{}, rec);
        benchmark::DoNotOptimize(rec.GetRecordCount());
        clock.Stop();
    }
    if (rec.GetRecordCount() != static_cast<long>(rules))
        state.SkipWithError("wrong row count");
    SetMsPer1000Rows(state, rules, clock);
}

// For comparison: naming 10,000 rule rows by walking the whole sub-group set for each of them, as a join
// without an index would (the linked query indexes the set once instead).
void BM_SubGroupNamesByWalkPerRule(benchmark::State& state) {
    const auto rules = static_cast<long>(state.range(0));
    const auto subGroups = static_cast<long>(state.range(1));
    CMemRecord set;
    set.Create("XZBH[I],FZBH[I],FZJC[C16],XDFS[I],XGRQ[C12],XGSJ[C8] ", 0);
    for (long i = 0; i < subGroups; ++i) {
        set.Append(nullptr, 1);
        set.Set("XZBH", i / 10 + 1, -1);
        set.Set("FZBH", i % 10 + 1, -1);
        set.Set("FZJC", Named('S', static_cast<std::size_t>(i)).c_str(), -1);
    }
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        std::size_t named = 0;
        for (long rule = 0; rule < rules; ++rule) {
            const long group = rule % (subGroups / 10 + 1) + 1;
            const long sub = rule % 11;
            CString name;
            if (sub > 0)
                for (set.GoTop(); !set.Eof(); set.Skip(1))
                    if (set.GetLong("XZBH", -1) == group && set.GetLong("FZBH", -1) == sub)
                        name = set.GetString("FZJC", -1);
            named += name.IsEmpty() ? 0 : 1;
        }
        benchmark::DoNotOptimize(named);
        clock.Stop();
    }
    SetMsPer1000Rows(state, static_cast<std::size_t>(rules), clock);
}

// Code translation against a dictionary of a size a counter really has (the test tables hold a few dozen
// rows): 3,000 rows of 100 categories with 30 codes each, 100,000 look-ups spread over all of them, the
// integer and the text form.
void BM_DictionaryLookupsInALargeTable(benchmark::State& state) {
    constexpr long kCategories = 100;
    constexpr long kCodes = 30;
    constexpr long kLookups = 100000;
    CMemRecord codes;
    codes.Create("FLDM[C20],IBM[I],CBM[C10],NOTE[C30]", 0);
    std::vector<std::string> categories;
    for (long c = 0; c < kCategories; ++c) {
        categories.push_back(Named('K', static_cast<std::size_t>(c)));
        for (long code = 0; code < kCodes; ++code) {
            codes.Append(nullptr, 1);
            codes.Set("FLDM", categories.back().c_str(), -1);
            codes.Set("IBM", code, -1);
            codes.Set("CBM", std::to_string(code).c_str(), -1);
            codes.Set("NOTE", Named('T', static_cast<std::size_t>(c * kCodes + code)).c_str(), -1);
        }
    }
    CDataDictionary dictionary;
    dictionary.AddTable("XTDM", codes);
    std::vector<std::string> codeTexts;
    for (long code = 0; code < kCodes; ++code)
        codeTexts.push_back(std::to_string(code));

    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        std::size_t found = 0;
        for (long i = 0; i < kLookups; ++i) {
            const auto c = static_cast<std::size_t>((i * 7919) % kCategories);
            const long code = (i * 31) % kCodes;
            found += dictionary.GetXTDM("XTDM", "FLDM", categories[c].c_str(), "IBM", code, "NOTE").IsEmpty()
                         ? 0
                         : 1;
            found += dictionary
                             .GetXTDM("XTDM", "FLDM", categories[c].c_str(), "CBM",
                                      codeTexts[static_cast<std::size_t>(code)].c_str(), "NOTE")
                             .IsEmpty()
                         ? 0
                         : 1;
        }
        benchmark::DoNotOptimize(found);
        clock.Stop();
        if (found != 2 * kLookups)
            state.SkipWithError("a look-up missed");
    }
    SetMsPer1000Rows(state, 2 * kLookups, clock);
}

} // namespace

BENCHMARK(BM_DictionaryLookupsInALargeTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubGroupNamesByWalkPerRule)
    ->Args({10000, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_StopProfitQueryIntoRecordSet)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SameReplyThroughChannelOnly)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeSameBytesOnly)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LinkedQuery)->Args({10000, 10000})->Unit(benchmark::kMillisecond)->UseRealTime();
