// The changes requests of a live window: 16500 asks a rule kind's rows written since a revision (and the
// serials that left), 16501 a rule's order list when it changed. While a ChangesScope is alive, the rule
// queries and the order-detail query frame the changes request in place of their own, with the very
// items they would send, so that the rows come back through the same row fillers.
#pragma once

#include <string>
#include <vector>

namespace live {

constexpr long FUNC_RULE_CHANGES = 16500;
constexpr long FUNC_ORDER_CHANGES = 16501;
constexpr long TAG_REVISION = 9101;       // in: the last 9102 received
constexpr long TAG_NEXT_REVISION = 9102;  // end frame: the revision to ask from next time
constexpr long TAG_LEFT = 9103;           // row: "1", serial 797 left the result
constexpr long TAG_RUN_FULL = 9104;       // end frame: "1", run the full query (no rows)
constexpr long TAG_WHOLE_LIST = 9105;     // end frame (16501): "1", the rows replace the list held
constexpr long TAG_ORDER_FUNCTION = 9106; // in (16501): the order function the list came from
// The server does not know the function: an older server, which answers full queries only.
constexpr int kStatusUnknownFunction = 4;

class ChangesScope {
public:
    // category: the rule kind's order category (1842). revision: the last 9102; empty for none yet.
    ChangesScope(long category, std::string revision);
    ~ChangesScope();
    ChangesScope(const ChangesScope&) = delete;
    ChangesScope& operator=(const ChangesScope&) = delete;

    // The scope the queries on this thread are asked under; null outside any.
    static ChangesScope* Active();

    long Category() const { return m_category; }
    const std::string& Revision() const { return m_revision; }
    // A reply row that only says serial `serial` left the result.
    void NoteLeft(long serial) { m_left.push_back(serial); }
    const std::vector<long>& Left() const { return m_left; }
    // The reply is asked again from the start: the serials it said left are said again.
    void ForgetLeft() { m_left.clear(); }

private:
    long m_category;
    std::string m_revision;
    std::vector<long> m_left;
    ChangesScope* m_outer;
};

} // namespace live
