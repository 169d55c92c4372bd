// Fixture of the rule and detail query tests: a fake counter server on loopback, a real CFixComm talking
// to it as g_pFixComm, and the small code tables as g_pDictionary / g_pTableMap.
#pragma once

#include "QueryTestData.h"
#include "tests/support/ModuleChannel.h"

#include "query/QueryConditions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace querytest {

using orvo::test::FakeItems;

// A reply row from UTF-8 values (sent as GBK).
FakeItems Row(std::initializer_list<std::pair<std::string, std::string>> utf8Items);

// Request items with UTF-8 values, for comparison with what the server recorded.
FakeItems Items(std::initializer_list<std::pair<std::string, std::string>> utf8Items);

// Every condition set, validity "1", distinct values.
QueryConditions FullConditions();

class QueryServerTest : public ::testing::Test, protected orvo::test::ModuleChannel {
protected:
    void Reply(std::uint32_t function, std::vector<FakeItems> rows);
    // The items of the only request of the function (fails the test when there is not exactly one).
    FakeItems OnlyRequest(std::uint32_t function) const;
    // Functions of all recorded requests, in the order they arrived (logins left out).
    std::vector<std::uint32_t> FunctionsSent() const;

    CodeTables tables;
};

} // namespace querytest
