// A stand-in module for the host's start-up tests: it exports the seven entry points, records every call
// in order together with what the host handed over, and can be told to refuse one SetOrvoData code.
//   ModuleDoubleCalls()          the recorded calls, one a line
//   ModuleDoubleRefuse(code)     SetOrvoData(code, ...) answers 0 and leaves a status text
//   ModuleDoubleMainRefuses(1)   ModuleMain leaves a status text, as when its window cannot open
#include "host/dbm/MemRecord.h"
#include "host/stock/DataDictionary.h"
#include "module/ModuleEntry.h"
#include "platform/Collections.h"

#include <string>

namespace {

std::string g_calls;
CString g_status;
long g_refused = 0;
bool g_mainRefuses = false; // ModuleMain leaves a status, as a module whose window cannot open

void record(const std::string& line) {
    g_calls += line + "\n";
}

// The table names a map holds, with their row counts: "KHQZ=24,QHJYS=5".
std::string mapContents(const CMapStringToPtr& map) {
    std::string text;
    POSITION pos = map.GetStartPosition();
    while (pos) {
        CString key;
        void* value = nullptr;
        map.GetNextAssoc(pos, key, value);
        text += (text.empty() ? "" : ",") + key.str() + "=" +
                std::to_string(static_cast<CMemRecord*>(value)->GetRecordCount());
    }
    return text;
}

std::string dictionaryContents(const CDataDictionary& dictionary) {
    std::string text;
    for (const char* name : {"QHXTDM", "XTDM", "JYS", "BZ", "YYB", "ZQLB", "YWKM", "QHPZ", "QHJYS", "JYLB"})
        if (const CMemRecord* table = dictionary.GetTable(name))
            text +=
                (text.empty() ? "" : ",") + std::string(name) + "=" + std::to_string(table->GetRecordCount());
    return text;
}

} // namespace

extern "C" {

ORVO_MODULE_EXPORT const char* ModuleDoubleCalls() {
    return g_calls.c_str();
}

ORVO_MODULE_EXPORT void ModuleDoubleRefuse(long code) {
    g_refused = code;
}

ORVO_MODULE_EXPORT void ModuleDoubleMainRefuses(int refuses) {
    g_mainRefuses = refuses != 0;
}

ORVO_MODULE_EXPORT void ModuleDoubleReset() {
    g_calls.clear();
    g_status.Empty();
    g_refused = 0;
    g_mainRefuses = false;
}

int ModuleInit() {
    record("ModuleInit");
    g_status = "ok";
    return 1;
}

int ModuleMain() {
    record("ModuleMain theGloalMem " + mapContents(theGloalMem));
    if (g_mainRefuses)
        g_status = GBK("缺少主程序对象(102)");
    return 1;
}

int ModuleClose() {
    record("ModuleClose");
    return 1;
}

int SetParam(long code, CString text) {
    record("SetParam " + std::to_string(code) + " " + text.ToUtf8());
    return 1;
}

CString GetParam(long code) {
    record("GetParam " + std::to_string(code));
    const CString status = g_status;
    g_status.Empty();
    switch (code) {
    case 3:
        return GBK("扩展委托查询");
    case 7:
        return status;
    case 8:
        return "893";
    default:
        return code >= 1 && code <= 5 ? CString("value") : CString();
    }
}

int SetOrvoData(long code, void* object) {
    std::string line = "SetOrvoData " + std::to_string(code);
    if (code == 105 && object)
        line += " " + mapContents(*static_cast<CMapStringToPtr*>(object));
    if (code == 106 && object)
        line += " " + dictionaryContents(*static_cast<CDataDictionary*>(object));
    record(line);
    if (code == g_refused) {
        g_status = "refused " + std::to_string(code);
        return 0;
    }
    g_status.Empty();
    return 1;
}

int SetFunc(long number) {
    record("SetFunc " + std::to_string(number));
    return 1;
}
}
