// The fixed code tables of the demo: exchanges, the futures and system code dictionaries (every
// category the client's code translation reads), currencies, business subjects and trade kinds.
#include "server/demo/DemoData.h"
#include "server/demo/DemoInsert.h"

namespace orvo::server {
namespace {

struct Code {
    const char* category;
    int ibm;
    const char* cbm;
    const char* note;
};

// Futures dictionary QHXTDM.
constexpr Code kFuturesCodes[] = {
    {"QHMMFX", 1, "B", "买入"},
    {"QHMMFX", 2, "S", "卖出"},
    {"QHKPFX", 1, "O", "开仓"},
    {"QHKPFX", 2, "C", "平仓"},
    {"QHKPFX", 3, "T", "平今"},
    {"QHKPFX", 4, "F", "强平"},
    {"QHTZLB", 1, "1", "投机"},
    {"QHTZLB", 2, "2", "套保"},
    {"QHTZLB", 3, "3", "套利"},
    {"SBJG", 0, "0", "未申报"},
    {"SBJG", 1, "1", "正在申报"},
    {"SBJG", 2, "2", "已报"},
    {"SBJG", 3, "3", "部分成交"},
    {"SBJG", 4, "4", "全部成交"},
    {"SBJG", 5, "5", "部成部撤"},
    {"SBJG", 6, "6", "已撤单"},
    {"SBJG", 7, "7", "废单"},
    {"CFZT", 0, "0", "未触发"},
    {"CFZT", 1, "1", "已触发"},
    {"CFZT", 2, "2", "触发失败"},
    {"CFZT", 3, "3", "已撤销"},
    {"PDFX", 1, "1", ">="},
    {"PDFX", 2, "2", "<="},
    {"PDFX", 3, "3", ">"},
    {"PDFX", 4, "4", "<"},
    {"TLLX", 1, "1", "跨期套利"},
    {"TLLX", 2, "2", "跨品种套利"},
    {"TLLX", 3, "3", "蝶式套利"},
    {"TLLX", 4, "4", "宽跨式套利"},
    {"GLWTXDFS", 1, "1", "同时下单"},
    {"GLWTXDFS", 2, "2", "顺序下单"},
    {"GLWTXDFS", 3, "3", "条件下单"},
    {"QHJSLX", 1, "1", "逐日盯市"},
    {"QHJSLX", 2, "2", "逐笔对冲"},
    {"JYBMSX", 1, "1", "投机编码"},
    {"JYBMSX", 2, "2", "套保编码"},
    {"JYBMSX", 3, "3", "套利编码"},
    {"QHCXBZ", 0, "N", "普通委托"},
    {"QHCXBZ", 1, "C", "撤单委托"},
    {"QHCXBZ", 2, "F", "强平委托"},
};

// System dictionary XTDM: integer categories, bit-set categories (codes are single bits) and the
// character-code category ZQJCLB.
constexpr Code kSystemCodes[] = {
    {"ZQTJFL", 1, "", "股票"},
    {"ZQTJFL", 2, "", "债券"},
    {"ZQTJFL", 3, "", "基金"},
    {"KHTZFL", 1, "", "个人投资者"},
    {"KHTZFL", 2, "", "机构投资者"},
    {"KHZT", 0, "", "正常"},
    {"KHZT", 1, "", "冻结"},
    {"KHZT", 2, "", "挂失"},
    {"KHZT", 3, "", "销户"},
    {"LPZSFS", 0, "", "不折算"},
    {"LPZSFS", 1, "", "按比例折算"},
    {"GDLB", 0, "", "普通股东"},
    {"GDLB", 1, "", "信用股东"},
    {"WTSBJG", 0, "", "未申报"},
    {"WTSBJG", 1, "", "已申报"},
    {"WTSBJG", 2, "", "申报失败"},
    {"JGFJBZ", 0, "", "不收附加费"},
    {"JGFJBZ", 1, "", "收附加费"},
    {"QSFYXM", 1, "", "佣金"},
    {"QSFYXM", 2, "", "印花税"},
    {"QSFYXM", 3, "", "过户费"},
    {"ZQJYZT", 0, "", "正常交易"},
    {"ZQJYZT", 1, "", "停牌"},
    {"ZQJYZT", 2, "", "退市"},
    {"ZHZT", 0, "", "正常"},
    {"ZHZT", 1, "", "冻结"},
    {"ZHZT", 2, "", "销户"},
    {"YHZHZT", 0, "", "正常"},
    {"YHZHZT", 1, "", "未签约"},
    {"YHZHZT", 2, "", "已解约"},
    {"GYZT", 0, "", "在职"},
    {"GYZT", 1, "", "离职"},
    {"ZJLB", 0, "", "身份证"},
    {"ZJLB", 1, "", "护照"},
    {"ZJLB", 2, "", "营业执照"},
    {"XLDM", 1, "", "博士"},
    {"XLDM", 2, "", "硕士"},
    {"XLDM", 3, "", "本科"},
    {"XLDM", 4, "", "大专"},
    {"ZYDM", 1, "", "职员"},
    {"ZYDM", 2, "", "教师"},
    {"ZYDM", 3, "", "医生"},
    {"ZYDM", 4, "", "自由职业"},
    {"ZJZHLB", 0, "", "普通资金账户"},
    {"ZJZHLB", 1, "", "信用资金账户"},
    {"JGLB", 0, "", "总部"},
    {"JGLB", 1, "", "营业部"},
    {"JGLB", 2, "", "服务部"},
    {"CWLX", 1, "", "对账不符"},
    {"CWLX", 2, "", "资金不平"},
    {"GDJSLX", 0, "", "普通交收"},
    {"GDJSLX", 1, "", "担保交收"},
    {"YWKMLB", 1, "", "资产类"},
    {"YWKMLB", 2, "", "负债类"},
    {"YWTJFL", 1, "", "委托"},
    {"YWTJFL", 2, "", "成交"},
    {"YWTJFL", 3, "", "资金"},
    {"GDZT", 0, "", "正常"},
    {"GDZT", 1, "", "冻结"},
    {"GDZT", 2, "", "注销"},
    {"GYFL", 1, "", "柜员"},
    {"GYFL", 2, "", "复核员"},
    {"GYFL", 3, "", "管理员"},
    {"QSWJLX", 1, "", "成交文件"},
    {"QSWJLX", 2, "", "资金文件"},
    // Bit sets.
    {"DLQX", 1, "", "柜台"},
    {"DLQX", 2, "", "电话"},
    {"DLQX", 4, "", "网上"},
    {"DLQX", 8, "", "手机"},
    {"WTFS", 1, "", "柜台委托"},
    {"WTFS", 2, "", "电话委托"},
    {"WTFS", 4, "", "网上委托"},
    {"WTFS", 8, "", "自助委托"},
    {"WTFS", 16, "", "手机委托"},
    {"ZHSX_ZJ", 1, "", "可取"},
    {"ZHSX_ZJ", 2, "", "可转"},
    {"ZHSX_ZJ", 4, "", "可透支"},
    {"FWXM", 1, "", "短信通知"},
    {"FWXM", 2, "", "邮件对账"},
    {"FWXM", 4, "", "电话回访"},
    {"JYSJYXZ", 1, "", "禁止开仓"},
    {"JYSJYXZ", 2, "", "禁止平仓"},
    {"ZJJDFX", 1, "", "银行转期货"},
    {"ZJJDFX", 2, "", "期货转银行"},
    {"KHSX", 1, "", "重点客户"},
    {"KHSX", 2, "", "风险客户"},
    {"KHSX", 4, "", "休眠客户"},
    {"MMXZ", 1, "", "禁止买入"},
    {"MMXZ", 2, "", "禁止卖出"},
    {"SBSJXZ", 1, "", "限制申报"},
    {"SBSJXZ", 2, "", "限制撤单"},
    {"CQLB", 1, "", "送股"},
    {"CQLB", 2, "", "配股"},
    {"CQLB", 4, "", "分红"},
    {"GYFJQX", 1, "", "查询"},
    {"GYFJQX", 2, "", "修改"},
    {"GYFJQX", 4, "", "审核"},
    {"GDSX", 1, "", "主股东"},
    {"GDSX", 2, "", "指定交易"},
    // Character codes.
    {"ZQJCLB", 1, "A", "A股"},
    {"ZQJCLB", 2, "B", "B股"},
    {"ZQJCLB", 3, "F", "基金"},
    {"ZQJCLB", 4, "Z", "债券"},
    {"ZQJCLB", 5, "Q", "权证"},
};

struct Pair {
    const char* code;
    const char* name;
};

constexpr Pair kStockExchanges[] = {{"SH", "上交所"}, {"SZ", "深交所"}};
constexpr Pair kCurrencies[] = {{"RMB", "人民币"}, {"USD", "美元"}, {"HKD", "港币"}};
constexpr Pair kSubjects[] = {{"10101", "银行转入"},
                              {"10102", "银行转出"},
                              {"20101", "交易手续费"},
                              {"20201", "平仓盈亏"},
                              {"20301", "持仓盈亏"}};
constexpr Pair kTradeKinds[] = {{"1", "买入"}, {"2", "卖出"}, {"3", "开仓"}, {"4", "平仓"}};

bool insertCodes(Db& db, const char* table, const Code* codes, size_t count, std::string& error) {
    Insert ins;
    if (!ins.prepare(db, table, "FLDM, IBM, CBM, NOTE", 4, error))
        return false;
    for (size_t i = 0; i < count; ++i)
        if (!ins.row(error, codes[i].category, codes[i].ibm, codes[i].cbm, codes[i].note))
            return false;
    return true;
}

bool insertPairs(Db& db, const char* table, const char* columns, const Pair* pairs, size_t count,
                 std::string& error) {
    Insert ins;
    if (!ins.prepare(db, table, columns, 2, error))
        return false;
    for (size_t i = 0; i < count; ++i)
        if (!ins.row(error, pairs[i].code, pairs[i].name))
            return false;
    return true;
}

} // namespace

bool seedCodeTables(Db& db, std::string& error) {
    return insertCodes(db, "QHXTDM", kFuturesCodes, std::size(kFuturesCodes), error) &&
           insertCodes(db, "XTDM", kSystemCodes, std::size(kSystemCodes), error) &&
           insertPairs(db, "JYS", "JYS, JYSJC", kStockExchanges, std::size(kStockExchanges), error) &&
           insertPairs(db, "BZ", "BZ, BZMC", kCurrencies, std::size(kCurrencies), error) &&
           insertPairs(db, "YWKM", "YWKM, YWMC", kSubjects, std::size(kSubjects), error) &&
           insertPairs(db, "JYLB", "JYLB, JYLBMC", kTradeKinds, std::size(kTradeKinds), error);
}

} // namespace orvo::server
