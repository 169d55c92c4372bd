#include "QueryServerFixture.h"

#include "module/ModuleState.h"

namespace querytest {

FakeItems Row(std::initializer_list<std::pair<std::string, std::string>> utf8Items) {
    FakeItems items;
    for (const auto& [key, value] : utf8Items)
        items.emplace_back(key, Gbk(value));
    return items;
}

FakeItems Items(std::initializer_list<std::pair<std::string, std::string>> utf8Items) {
    return Row(utf8Items);
}

QueryConditions FullConditions() {
    QueryConditions cond;
    cond.m_strBranch = "0101,0102";
    cond.m_strGroup = "G01";
    cond.m_strCustomer = "010100000123";
    cond.m_strExchange = "SQ";
    cond.m_strVariety = "cu";
    cond.m_strContract = "cu2501";
    cond.m_strValidity = "1";
    cond.m_strBeginDate = "2026.12.01";
    cond.m_strEndDate = "2026.11.30"; // after the begin date on purpose: sent as it stands
    return cond;
}

void QueryServerTest::Reply(std::uint32_t function, std::vector<FakeItems> rows) {
    orvo::test::FakeReply reply;
    reply.rows = std::move(rows);
    server.Script(function, std::move(reply));
}

FakeItems QueryServerTest::OnlyRequest(std::uint32_t function) const {
    const auto requests = server.Requests(function);
    EXPECT_EQ(requests.size(), 1u) << "requests of function " << function;
    return requests.empty() ? FakeItems{} : requests.front().items;
}

std::vector<std::uint32_t> QueryServerTest::FunctionsSent() const {
    std::vector<std::uint32_t> functions;
    for (const auto& request : server.Requests())
        if (request.function >= 1000)
            functions.push_back(request.function);
    return functions;
}

} // namespace querytest
