// Generated demo data: organisation, customers, varieties and contracts, rules of the six kinds with
// the orders they produced, linked-order groups, and the demo operators.
#include "server/demo/DemoData.h"

#include "server/common/Dates.h"
#include "server/demo/DemoInsert.h"
#include "server/store/sqlite/BulkLoad.h"
#include "server/store/sqlite/SqliteOperators.h"

#include <cstdio>
#include <string>
#include <vector>

namespace orvo::server {
namespace {

// splitmix64: the same numbers from the same seed on every platform and library.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int range(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    bool chance(int percent) { return range(1, 100) <= percent; }
    template <typename T, size_t N> const T& pick(const T (&items)[N]) { return items[next() % N]; }

private:
    std::uint64_t m_state;
};

struct Exchange {
    const char* code;
    const char* shortName;
    const char* fullName;
};
constexpr Exchange kExchanges[] = {
    {"SQ", "上期所", "上海期货交易所"},         {"DL", "大商所", "大连商品交易所"},
    {"ZZ", "郑商所", "郑州商品交易所"},         {"ZJ", "中金所", "中国金融期货交易所"},
    {"NY", "能源中心", "上海国际能源交易中心"},
};

struct Variety {
    int exchange; // index into kExchanges
    const char* code;
    const char* name;
    double price; // a typical price, around which the demo prices lie
    double tick;
};
constexpr Variety kVarieties[] = {
    {0, "cu", "沪铜", 72000, 10},   {0, "al", "沪铝", 19000, 5},      {0, "zn", "沪锌", 24000, 5},
    {0, "au", "沪金", 560, 0.02},   {0, "ag", "沪银", 7500, 1},       {0, "rb", "螺纹钢", 3600, 1},
    {0, "ru", "橡胶", 14500, 5},    {0, "fu", "燃料油", 3100, 1},     {1, "m", "豆粕", 3200, 1},
    {1, "y", "豆油", 7800, 2},      {1, "c", "玉米", 2300, 1},        {1, "i", "铁矿石", 800, 0.5},
    {1, "j", "焦炭", 2100, 0.5},    {1, "p", "棕榈油", 7600, 2},      {2, "SR", "白糖", 6200, 1},
    {2, "CF", "棉花", 15000, 5},    {2, "TA", "PTA", 5800, 2},        {2, "MA", "甲醇", 2500, 1},
    {2, "FG", "玻璃", 1500, 1},     {3, "IF", "沪深300", 3800, 0.2},  {3, "IC", "中证500", 5600, 0.2},
    {3, "IH", "上证50", 2600, 0.2}, {3, "T", "十年国债", 104, 0.005}, {4, "sc", "原油", 560, 0.1},
    {4, "nr", "20号胶", 12000, 5},
};
constexpr int kVarietyCount = static_cast<int>(std::size(kVarieties));

struct Branch {
    const char* code;
    const char* shortName;
    const char* fullName;
};
constexpr Branch kBranches[] = {
    {"0101", "北京营业部", "北京建国门营业部"}, {"0102", "上海营业部", "上海陆家嘴营业部"},
    {"0103", "广州营业部", "广州天河营业部"},   {"0104", "深圳营业部", "深圳福田营业部"},
    {"0105", "杭州营业部", "杭州西湖营业部"},   {"0106", "南京营业部", "南京新街口营业部"},
    {"0107", "成都营业部", "成都春熙路营业部"}, {"0108", "武汉营业部", "武汉江汉营业部"},
};
constexpr int kBranchCount = static_cast<int>(std::size(kBranches));

// Offices under branches (category "2"); the last one sits under another office.
struct Office {
    const char* code;
    const char* name;
    const char* parent;
    const char* parentCategory;
    int branch; // index of the branch it belongs to
};
constexpr Office kOffices[] = {
    {"0111", "北京朝阳服务部", "0101", "1", 0},
    {"0121", "上海浦东服务部", "0102", "1", 1},
    {"0131", "广州番禺服务部", "0103", "1", 2},
    {"0112", "北京望京服务点", "0111", "2", 0},
};

constexpr const char* kGroupNames[] = {"重点客户组", "机构客户组", "普通客户组"};
constexpr int kGroupsPerBranch = 3;

constexpr const char* kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                     "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
constexpr const char* kGivenNames[] = {
    "伟", "芳", "娜", "秀英", "敏",   "静", "丽", "强", "磊",   "军",   "洋",   "勇",   "艳",   "杰",
    "娟", "涛", "明", "超",   "秀兰", "霞", "平", "刚", "桂英", "建国", "志强", "海燕", "晓东", "文华"};

std::string formatPrice(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string formatTime(int seconds) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

std::string groupCode(int branch, int group) {
    char code[16]; // G11..G13 for 0101, G21.. for 0102, ...
    std::snprintf(code, sizeof code, "G%d", (branch + 1) * 10 + group + 1);
    return code;
}

struct Customer {
    std::string khh;
    std::string yyb;
    int branch = 0;
};

struct Contract {
    std::string code;
    int variety = 0;
};

// What one rule needs to produce its orders.
struct RuleFacts {
    long long lsh = 0;
    int kind = 0;
    const Customer* customer = nullptr;
    std::string hydm, jys, jybm, price;
    int mmfx = 1, kpfx = 1, lots = 1;
    long setDay = 0, validDay = 0;
    bool expired = false;
};

class Generator {
public:
    Generator(Db& db, const DemoOptions& options, long today)
        : m_db(db), m_options(options), m_today(today), m_random(options.seed) {}

    bool run(std::string& error) {
        const bool large = m_options.size == DemoSize::Large;
        return seedCodeTables(m_db, error) && organisation(error) && markets(large, error) &&
               customers(large ? 20000 : 120, error) && prepareRuleInserts(error) && rules(large, error) &&
               linkGroups(error) && operators(error);
    }

private:
    bool organisation(std::string& error) {
        Insert yyb, khqz;
        if (!yyb.prepare(m_db, "YYB", "JGBM, JGJC, JGQC, JGLB, SJJG, SJJGLB", 6, error) ||
            !khqz.prepare(m_db, "KHQZ", "YYB, KHQZ, QZMC", 3, error))
            return false;
        if (!yyb.row(error, "0000", "总部", "总部", "0", "", ""))
            return false;
        for (const Branch& b : kBranches)
            if (!yyb.row(error, b.code, b.shortName, b.fullName, "1", "0000", "0"))
                return false;
        for (const Office& o : kOffices)
            if (!yyb.row(error, o.code, o.name, o.name, "2", o.parent, o.parentCategory))
                return false;
        for (int b = 0; b < kBranchCount; ++b)
            for (int g = 0; g < kGroupsPerBranch; ++g)
                if (!khqz.row(error, kBranches[b].code, groupCode(b, g),
                              std::string(kBranches[b].shortName).substr(0, 6) + kGroupNames[g]))
                    return false;
        return true;
    }

    bool markets(bool large, std::string& error) {
        Insert qhjys, jys, qhpz, zqlb, hydm;
        if (!qhjys.prepare(m_db, "QHJYS", "JYS, JYSJC, JYSQC", 3, error) ||
            !jys.prepare(m_db, "JYS", "JYS, JYSJC", 2, error) ||
            !qhpz.prepare(m_db, "QHPZ", "JYS, ZQLB, ZQLBMC, HYPZ, PZMC", 5, error) ||
            !zqlb.prepare(m_db, "ZQLB", "ZQLB, ZQLBMC", 2, error) ||
            !hydm.prepare(m_db, "QHHYDM", "JYS, JYSMC, ZQLB, ZQLBMC, ZQDM, HYMC", 6, error))
            return false;
        for (const Exchange& e : kExchanges)
            if (!qhjys.row(error, e.code, e.shortName, e.fullName) || !jys.row(error, e.code, e.shortName))
                return false;
        for (const Variety& v : kVarieties)
            if (!qhpz.row(error, kExchanges[v.exchange].code, v.code, v.name, v.code, v.name) ||
                !zqlb.row(error, v.code, v.name))
                return false;

        // Futures of the next twelve months (six in the small set); the large set adds options on each
        // of them, 33 strikes of calls and puts, to reach 20,000 contracts.
        int year = 0, month = 0, day = 0;
        civilFromDays(m_today, year, month, day);
        const int months = large ? 12 : 6;
        for (int vi = 0; vi < kVarietyCount; ++vi) {
            const Variety& v = kVarieties[vi];
            const Exchange& e = kExchanges[v.exchange];
            const bool threeDigits = v.exchange == 2; // this exchange writes the year with one digit
            for (int m = 0; m < months; ++m) {
                int y = year + (month - 1 + m + 1) / 12, mo = (month - 1 + m + 1) % 12 + 1;
                char ym[8];
                if (threeDigits)
                    std::snprintf(ym, sizeof ym, "%01d%02d", y % 10, mo);
                else
                    std::snprintf(ym, sizeof ym, "%02d%02d", y % 100, mo);
                std::string code = std::string(v.code) + ym;
                if (!hydm.row(error, e.code, e.shortName, v.code, v.name, code, std::string(v.name) + ym))
                    return false;
                m_contracts.push_back({code, vi});
                if (!large)
                    continue;
                const double step = v.price / 50.0;
                for (int s = -16; s <= 16; ++s) {
                    long strike = static_cast<long>(v.price + s * step + 0.5);
                    for (int call = 0; call < 2; ++call) {
                        std::string option = code + (call ? "C" : "P") + std::to_string(strike);
                        std::string name =
                            std::string(v.name) + ym + (call ? "看涨" : "看跌") + std::to_string(strike);
                        if (!hydm.row(error, e.code, e.shortName, v.code, v.name, option, name))
                            return false;
                    }
                }
            }
        }
        return true;
    }

    bool customers(int count, std::string& error) {
        Insert ins;
        if (!ins.prepare(m_db, "customers", "khh, name, yyb, branch, khqz", 5, error))
            return false;
        for (int i = 0; i < count; ++i) {
            Customer c;
            c.branch = i % kBranchCount;
            c.yyb = kBranches[c.branch].code;
            // Some accounts are opened at an office under the branch.
            for (const Office& o : kOffices)
                if (o.branch == c.branch && m_random.chance(20))
                    c.yyb = o.code;
            char khh[16];
            std::snprintf(khh, sizeof khh, "%s%08d", kBranches[c.branch].code, i / kBranchCount + 1);
            c.khh = khh;
            std::string name = m_random.pick(kSurnames);
            name += m_random.pick(kGivenNames);
            std::string group = groupCode(c.branch, m_random.range(0, kGroupsPerBranch - 1));
            if (!ins.row(error, c.khh, name, c.yyb, kBranches[c.branch].code, group))
                return false;
            m_customers.push_back(std::move(c));
        }
        return true;
    }

    bool prepareRuleInserts(std::string& error) {
        return m_rule.prepare(
                   m_db, "rules",
                   "lsh, kind, khh, status_text, cfzt, jys, zqlb, hydm, jybm, mmfx, kpfx, lots, price, "
                   "filled, cancelled, set_time, set_date, valid_date, pdfx, trig_price, ticks_profit, "
                   "ticks_loss, off_profit_trig, off_profit_order, off_loss_trig, off_loss_order, "
                   "src_order, src_hydm, src_mmfx, src_kpfx, src_lots, src_filled, src_cancelled, "
                   "src_price, order_no, tllx, deviation, trig_lots1, trig_lots2, filled2, min_order, "
                   "single_leg, avg_price, xzbh, fzbh, xdfs",
                   46, error) &&
               m_order.prepare(
                   m_db, "orders",
                   "lsh, kind, khh, hist, wth, status_text, hydm, mmfx, kpfx, price, lots, fill_price, "
                   "filled, cancelled, tzlb, jys, jybm, wtsj, sbsj, wtrq, flag",
                   21, error);
    }

    // Every rule kind gets the small set; the large set adds the stop-loss bulk.
    bool rules(bool large, std::string& error) {
        const int kinds[] = {2, 3, 4, 7, 6};
        for (int kind : kinds)
            for (int i = 0; i < 60; ++i)
                if (!rule(kind, i % 3 == 2, error))
                    return false;
        if (large)
            for (int i = 0; i < kLargeStopProfitRules; ++i)
                if (!rule(3, i % 21 == 20, error))
                    return false;
        return true;
    }

    bool rule(int kind, bool expired, std::string& error, long long xzbh = 0, long long fzbh = 0,
              const Customer* owner = nullptr) {
        RuleFacts f;
        f.lsh = ++m_lastLsh;
        f.kind = kind;
        f.customer = owner ? owner : &m_customers[m_random.next() % m_customers.size()];
        const Contract& contract = m_contracts[m_random.next() % m_contracts.size()];
        const Variety& v = kVarieties[contract.variety];
        f.hydm = contract.code;
        f.jys = kExchanges[v.exchange].code;
        f.jybm = std::to_string(80000000 + std::stoi(f.customer->khh.substr(4)));
        f.mmfx = m_random.range(1, 2);
        f.kpfx = m_random.range(1, 3);
        f.lots = m_random.range(1, 50);
        const double price = v.price + m_random.range(-40, 40) * v.tick;
        f.price = formatPrice(price);
        f.expired = expired;
        if (expired) {
            f.setDay = m_today - m_random.range(20, 200);
            f.validDay = std::min(f.setDay + m_random.range(0, 15), m_today - 1);
        } else {
            f.setDay = m_today - m_random.range(0, 10);
            f.validDay = m_today + m_random.range(0, 30);
        }
        if (kind == 6 || kind == 5) // batch and linked orders live for the day they were placed
            f.validDay = expired ? f.setDay : m_today;

        // Trigger state: about four in ten triggered; batch and linked rules always placed their orders.
        int cfzt = 0;
        int roll = m_random.range(1, 100);
        if (kind == 6 || kind == 5 || roll <= 40)
            cfzt = 1;
        else if (roll <= 50)
            cfzt = 3;
        else if (roll <= 55)
            cfzt = 2;
        static const char* const kStates[] = {"等待触发", "已触发", "触发失败", "已撤销"};
        std::string status = (cfzt == 0 && expired) ? "已过期" : kStates[cfzt];

        // Each random value is drawn in its own statement: the order of evaluation of function
        // arguments is unspecified, and the data must not depend on the compiler.
        const std::string setTime = formatTime(m_random.range(9 * 3600, 15 * 3600));
        const int filled = cfzt == 1 ? m_random.range(0, f.lots) : 0;
        const int cancelled = cfzt == 1 ? m_random.range(0, f.lots - filled) : 0;
        const int pdfx = m_random.range(1, 4);
        const double trigger =
            kind == 7 ? m_random.range(-50, 50) * v.tick : price + m_random.range(-10, 10) * v.tick;
        const std::string ticksProfit = std::to_string(m_random.range(0, 5));
        const std::string ticksLoss = std::to_string(m_random.range(0, 5));
        // Offsets of the stop-loss / take-profit prices; a zero shows as an empty price on the client.
        std::string offsets[4];
        for (std::string& o : offsets)
            o = m_random.chance(25) ? std::string("0") : formatPrice(m_random.range(1, 20) * v.tick);
        const Contract& leg2 = m_contracts[m_random.next() % m_contracts.size()];
        const std::string srcOrder = std::to_string(m_random.range(100000, 999999));
        const std::string orderNo = cfzt == 1 ? std::to_string(m_nextOrderNo) : std::string();
        const int srcKpfx = m_random.range(1, 2);
        const int srcLots = m_random.range(1, 50);
        const int srcFilled = m_random.range(0, srcLots);
        const int srcCancelled = m_random.range(0, srcLots - srcFilled);
        const double srcPrice = kind == 7 ? m_random.range(-20, 20) * v.tick : price;
        const int tllx = m_random.range(1, 4);
        const std::string deviation = formatPrice(m_random.range(0, 10) * v.tick);
        const int trigLots1 = m_random.range(0, f.lots);
        const int trigLots2 = m_random.range(0, f.lots);
        const int filled2 = m_random.range(0, f.lots);
        const int minOrder = m_random.range(0, 1);
        const int singleLeg = m_random.range(0, 2);
        const std::string avgPrice = formatPrice(price + m_random.range(-5, 5) * v.tick);
        const int xdfs = m_random.range(1, 3);

        if (!m_rule.row(error, f.lsh, kind, f.customer->khh, status, cfzt, f.jys, v.code, f.hydm, f.jybm,
                        f.mmfx, f.kpfx, f.lots, f.price, filled, cancelled, setTime, formatDate(f.setDay),
                        formatDate(f.validDay), pdfx, formatPrice(trigger), ticksProfit, ticksLoss,
                        offsets[0], offsets[1], offsets[2], offsets[3], srcOrder,
                        kind == 7 ? leg2.code : f.hydm, 3 - f.mmfx, srcKpfx, srcLots, srcFilled, srcCancelled,
                        formatPrice(srcPrice), orderNo, tllx, deviation, trigLots1, trigLots2, filled2,
                        minOrder, singleLeg, avgPrice, xzbh, fzbh, xdfs))
            return false;
        return cfzt == 1 ? orders(f, error) : true;
    }

    // The orders a triggered rule placed: current ones for a rule within validity, history for an
    // expired one. About one in six carries the flag "W", which the client does not list.
    bool orders(const RuleFacts& f, std::string& error) {
        static const char* const kOrderStates[] = {"已报", "部分成交", "全部成交", "已撤单"};
        const int count = f.kind == 6 ? m_random.range(2, 4) : m_random.range(1, 3);
        for (int i = 0; i < count; ++i) {
            const int state = m_random.range(0, 3);
            const int filled = state == 2 ? f.lots : state == 1 ? m_random.range(1, f.lots) : 0;
            const int cancelled = state == 3 ? f.lots - filled : 0;
            const long day = f.expired
                                 ? m_random.range(static_cast<int>(f.setDay), static_cast<int>(f.validDay))
                                 : m_today;
            const int seconds = m_random.range(9 * 3600, 15 * 3600 - 10);
            const int declared = seconds + m_random.range(0, 5);
            const int hedge = m_random.chance(85) ? 1 : 2;
            const char* flag = m_random.chance(17) ? "W" : "";
            if (!m_order.row(error, f.lsh, f.kind, f.customer->khh, f.expired ? 1 : 0, m_nextOrderNo++,
                             kOrderStates[state], f.hydm, f.mmfx, f.kpfx, f.price, f.lots,
                             filled ? f.price : std::string(), filled, cancelled, hedge, f.jys, f.jybm,
                             formatTime(seconds), formatTime(declared), formatDate(day), flag))
                return false;
        }
        return true;
    }

    // Linked-order groups of some customers, their sub-groups, and linked rules that point at them
    // (also at a sub-group number no group has, and at no sub-group at all).
    bool linkGroups(std::string& error) {
        Insert group, sub;
        if (!group.prepare(m_db, "link_groups", "xzbh, xzmc, khh, xzzt, yyb, qx, fwxm", 7, error) ||
            !sub.prepare(m_db, "link_subgroups", "xzbh, fzbh, fzjc, xdfs, xgrq, xgsj", 6, error))
            return false;
        static const char* const kSubNames[] = {"第一分组", "第二分组", "第三分组"};
        for (int g = 1; g <= 20; ++g) {
            const Customer& owner = m_customers[static_cast<size_t>(g * 7) % m_customers.size()];
            const std::string name = "关联组合" + std::to_string(g);
            const int state = m_random.range(0, 1);
            const int rights = m_random.range(0, 3);
            const int services = m_random.range(0, 7);
            if (!group.row(error, g, name, owner.khh, state, owner.yyb, rights, services))
                return false;
            const int subs = m_random.range(1, 3);
            for (int s = 1; s <= subs; ++s) {
                const int method = m_random.range(1, 3);
                const std::string changed = formatDate(m_today - m_random.range(0, 30));
                const std::string at = formatTime(m_random.range(9 * 3600, 15 * 3600));
                if (!sub.row(error, g, s, kSubNames[s - 1], method, changed, at))
                    return false;
            }
            // A renamed sub-group stored twice: the later row is the current name.
            if (g == 3 && !sub.row(error, g, 1, "第一分组(新)", 1, formatDate(m_today), "10:00:00"))
                return false;
            for (int r = 0; r < 3; ++r) {
                const long long subgroup = r == 0 ? 0 : (g == 5 && r == 2 ? 9 : m_random.range(1, subs));
                if (!rule(5, r == 2 && g % 2 == 0, error, g, subgroup, &owner))
                    return false;
            }
        }
        // A linked rule whose group is gone: listed with its numbers and empty names.
        {
            const Customer& owner = m_customers[0];
            if (!rule(5, false, error, 999, 1, &owner))
                return false;
        }
        return true;
    }

    bool operators(std::string& error) {
        return storeOperator(m_db, "admin", "admin", kAllCode, kAllCode, true, error) &&
               storeOperator(m_db, "teller", "teller", "0101", groupCode(0, 0) + "," + groupCode(0, 1), true,
                             error);
    }

    Db& m_db;
    const DemoOptions& m_options;
    long m_today;
    Random m_random;
    std::vector<Customer> m_customers;
    std::vector<Contract> m_contracts; // futures only: the rules trade these
    Insert m_rule, m_order;
    long long m_lastLsh = 1000;
    long long m_nextOrderNo = 100001;
};

} // namespace

bool seedDemo(Db& db, const DemoOptions& options, std::string& error) {
    long today = 0;
    const std::string date = options.today.empty() ? localDate() : options.today;
    if (!parseDate(date, today)) {
        error = "bad demo date '" + date + "', expected YYYY.MM.DD";
        return false;
    }
    bool seeded = false;
    {
        // The large set's indexes outgrow the default page cache many times over: without room, pages are
        // written out and read back again and again within the one transaction.
        const LargePageCache cache(db, 262144); // 256 MiB, for as long as the seeding lasts
        Transaction tx(db);
        std::vector<std::string> indexes;
        if (!tx.ok()) {
            error = db.lastError();
        } else if (setIndexesAside(db, indexes, error)) {
            Generator gen(db, options, today);
            seeded = gen.run(error) && restoreIndexes(db, indexes, error) && tx.commit(error);
        }
    }
    return seeded;
}

} // namespace orvo::server
