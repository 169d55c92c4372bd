#include "QueryTestData.h"

#include "module/ModuleState.h"
#include "platform/GbkText.h"

namespace querytest {

std::string Gbk(const std::string& utf8) {
    return orvo::Utf8ToGbk(utf8);
}
std::string Utf8(const CString& gbk) {
    return orvo::GbkToUtf8(gbk.view());
}

std::string Col(const CMemRecord& rec, const char* columnUtf8, int row) {
    return Utf8(rec.GetString(CString::FromUtf8(columnUtf8), row));
}

CMemRecord MakeTable(const char* layoutUtf8, std::initializer_list<std::vector<std::string>> rows) {
    CMemRecord rec;
    rec.Create(CString::FromUtf8(layoutUtf8), 0);
    for (const auto& row : rows) {
        rec.Append(nullptr, 1);
        for (size_t i = 0; i < row.size(); ++i)
            rec.Set(rec.GetField(static_cast<int>(i)).name, CString::FromUtf8(row[i]), -1);
    }
    return rec;
}

namespace {

constexpr const char* kCodeLayout = "FLDM[C20],IBM[I],CBM[C10],NOTE[C30]";

// The futures code dictionary: the categories the queries translate, plus decoys that a wrong lookup
// would hit.
CMemRecord FuturesCodes() {
    return MakeTable(
        kCodeLayout,
        {
            {"QHMMFX", "0", "", "代码零"}, {"QHMMFX", "1", "", "买入"},       {"QHMMFX", "2", "", "卖出"},
            {"QHKPFX", "1", "", "开仓"},   {"QHKPFX", "2", "", "平仓"},       {"QHKPFX", "3", "", "平今"},
            {"SBJG", "1", "", "已报"},     {"QHWTSBJG", "1", "", "错类"},     {"QHTZLB", "1", "", "投机"},
            {"QHTZLB", "3", "", "套保"},   {"QHJSLX", "1", "", "逐日"},       {"JYBMSX", "2", "", "一般"},
            {"QHCXBZ", "0", "X", "撤单"},  {"CFZT", "0", "", "未触发"},       {"CFZT", "1", "", "已触发"},
            {"CFZT", "2", "", "已撤销"},   {"PDFX", "1", "", "大于等于"},     {"PDFX", "2", "", "小于等于"},
            {"TLLX", "1", "", "跨期套利"}, {"GLWTXDFS", "1", "", "同时下单"},
        });
}

// The system code dictionary, with one row "<category>文本" under code 7 for each integer-code category
// and under bit 2 for each bit-set category, so that every name in the translation's lists is reachable.
CMemRecord SystemCodes() {
    CMemRecord rec = MakeTable(kCodeLayout, {
                                                {"KHZT", "0", "", "正常"},
                                                {"KHZT", "3", "", "冻结"},
                                                {"WTFS", "1", "", "电话"},
                                                {"WTFS", "4", "", "网上"},
                                                {"MMXZ", "4", "", "仅卖"},
                                                {"DLQX", "1", "", "低位"},
                                                {"DLQX", "-2147483648", "", "高位"},
                                            });
    for (const char* name :
         {"ZQTJFL", "KHTZFL", "KHZT",   "LPZSFS", "GDLB",   "WTSBJG", "JGFJBZ", "QSFYXM",
          "ZQJYZT", "ZHZT",   "YHZHZT", "GYZT",   "ZJLB",   "XLDM",   "ZYDM",   "ZJZHLB",
          "JGLB",   "CWLX",   "GDJSLX", "YWKMLB", "YWTJFL", "GDZT",   "GYFL",   "QSWJLX"}) {
        rec.Append(nullptr, 1);
        rec.Set("FLDM", name, -1);
        rec.Set("IBM", 7L, -1);
        rec.Set("NOTE", (std::string(name) + Gbk("文本")).c_str(), -1);
    }
    for (const char* name : {"DLQX", "WTFS", "ZHSX_ZJ", "FWXM", "JYSJYXZ", "ZJJDFX", "KHSX", "MMXZ", "SBSJXZ",
                             "CQLB", "GYFJQX", "GDSX"}) {
        rec.Append(nullptr, 1);
        rec.Set("FLDM", name, -1);
        rec.Set("IBM", 2L, -1);
        rec.Set("NOTE", (std::string(name) + Gbk("位二")).c_str(), -1);
    }
    return rec;
}

} // namespace

CodeTables::CodeTables() {
    dictionary.AddTable("QHXTDM", FuturesCodes());
    dictionary.AddTable("XTDM", SystemCodes());
    dictionary.AddTable("JYS", MakeTable("JYS[C4],JYSJC[C20]", {{"SH", "上交所"}}));
    dictionary.AddTable("BZ", MakeTable("BZ[C4],BZMC[C20]", {{"RMB", "人民币"}}));
    dictionary.AddTable("YYB", MakeTable("JGBM[C4],JGJC[C20]", {{"0101", "总部"}}));
    dictionary.AddTable("ZQLB", MakeTable("ZQLB[C4],ZQLBMC[C20]", {{"A0", "A股"}}));
    dictionary.AddTable("YWKM", MakeTable("YWKM[C8],YWMC[C20]", {{"101", "存款"}}));
    dictionary.AddTable("QHPZ", MakeTable("HYPZ[C8],PZMC[C20]", {{"cu", "铜"}}));
    dictionary.AddTable("QHJYS", MakeTable("JYS[C4],JYSJC[C20]", {{"SQ", "上期所"}, {"DL", "大商所"}}));
    dictionary.AddTable("JYLB", MakeTable("JYLB[I],JYLBMC[C20]", {{"12", "期货开仓"}}));

    // Table order matters for "ZQJCLB": texts follow the rows, not the characters of the code.
    xtdmTable = MakeTable(kCodeLayout, {
                                           {"ZQJCLB", "0", "B", "乙类"},
                                           {"ZQJCLB", "0", "A", "甲类"},
                                           {"QHCXBZ", "0", "A", "别类"},
                                           {"ZQJCLB", "0", "AB", "甲乙"},
                                           {"ZQJCLB", "0", "C", "丙类"},
                                           {"ZQJCLB", "0", "BA", "乙甲"},
                                           {"ZQJCLB", "0", "", "通用"},
                                       });
    tableMap.SetAt("XTDM", &xtdmTable);

    g_pDictionary = &dictionary;
    g_pTableMap = &tableMap;
}

CodeTables::~CodeTables() {
    g_pDictionary = nullptr;
    g_pTableMap = nullptr;
}

} // namespace querytest

namespace querytest {

ColumnValues RowOf(const CMemRecord& rec, int row) {
    ColumnValues values;
    for (int i = 0; i < rec.GetFieldCount(); ++i) {
        const CString& name = rec.GetField(i).name;
        values.emplace_back(Utf8(name), Utf8(rec.GetString(name, row)));
    }
    return values;
}

} // namespace querytest
