#include "client/ModuleHost.h"

#include "module/ModuleEntry.h"
#include "platform/CString.h"

namespace {

using namespace orvo::module;

// The host's menu: function number and its name.
struct HostFunction {
    long number;
    const char* name;
};
constexpr HostFunction kHostFunctions[] = {{893, "扩展委托查询"}};

} // namespace

std::string HostFunctionName(long function) {
    for (const HostFunction& entry : kHostFunctions)
        if (entry.number == function)
            return entry.name;
    return {};
}

std::vector<long> ParseFunctionList(const std::string& text) {
    std::vector<long> functions;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        long value = 0;
        bool digits = end > start && end - start <= 10;
        for (std::size_t i = start; digits && i < end; ++i) {
            digits = text[i] >= '0' && text[i] <= '9';
            value = value * 10 + (text[i] - '0');
        }
        if (digits)
            functions.push_back(value);
        start = end + 1;
    }
    return functions;
}

bool ModuleHost::Open(const std::string& path, const HostObjects& objects, std::string& error) {
    Close();
    if (!m_loader.Load(path)) {
        error = m_loader.Error();
        return false;
    }
    m_loader.ModuleInit();

    const std::pair<long, void*> handOver[] = {{kDataFixComm, objects.fixComm},
                                               {kDataIni, objects.ini},
                                               {kDataTableMap, objects.tableMap},
                                               {kDataDictionary, objects.dictionary}};
    for (const auto& [code, object] : handOver)
        if (!m_loader.SetOrvoData(code, object))
            statusAfterRefusal("SetOrvoData(" + std::to_string(code) + ")");

    // The host names the function the module serves; the module shows it as its window title.
    m_loader.SetParam(kSetParamModuleName, CString::FromUtf8(HostFunctionName(893)));

    m_identity.buildDate = m_loader.GetParam(kParamBuildDate).ToUtf8();
    m_identity.category = m_loader.GetParam(kParamCategory).ToUtf8();
    m_identity.name = m_loader.GetParam(kParamModuleName).ToUtf8();
    m_identity.version = m_loader.GetParam(kParamVersion).ToUtf8();
    m_identity.description = m_loader.GetParam(kParamDescription).ToUtf8();
    m_identity.functions = ParseFunctionList(m_loader.GetParam(kParamFunctions).ToUtf8());
    if (m_identity.functions.empty() && m_warn)
        m_warn("module " + path + " serves no function (GetParam(8) is empty)");
    return true;
}

void ModuleHost::Close() {
    if (m_loader.IsLoaded())
        m_loader.ModuleClose();
    m_loader.Unload();
    m_identity = {};
}

bool ModuleHost::Serves(long function) const {
    for (const long served : m_identity.functions)
        if (served == function)
            return true;
    return false;
}

std::string ModuleHost::RunMain(long function) {
    if (!m_loader.IsLoaded() || !Serves(function) || m_running)
        return {};
    m_running = true;
    m_loader.ModuleMain();
    m_running = false;
    // ModuleMain always answers 1; a window that could not open leaves its reason in the status.
    return m_loader.GetParam(kParamStatus).ToUtf8();
}

std::string ModuleHost::statusAfterRefusal(const std::string& call) {
    const std::string status = m_loader.GetParam(kParamStatus).ToUtf8();
    if (m_warn)
        m_warn("module refused " + call + ": " + (status.empty() ? "(no status)" : status));
    return status;
}
