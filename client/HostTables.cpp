#include "client/HostTables.h"

#include "host/com/FixComm.h"
#include "host/dbm/MemRecord.h"
#include "host/stock/DataDictionary.h"

#include <algorithm>

namespace {

constexpr int kTransportFailure = -1;

} // namespace

const std::vector<std::string>& ModuleMapTables() {
    static const std::vector<std::string> names{"XTDM", "YYB", "QHJYS", "QHPZ", "KHQZ"};
    return names;
}

const std::vector<std::string>& GlobalMemTables() {
    static const std::vector<std::string> names{"QHHYDM"};
    return names;
}

const std::vector<std::string>& DictionaryTables() {
    static const std::vector<std::string> names{"QHXTDM", "XTDM", "JYS",  "BZ",    "YYB",
                                                "ZQLB",   "YWKM", "QHPZ", "QHJYS", "JYLB"};
    return names;
}

HostTables::HostTables() = default;

HostTables::~HostTables() {
    for (const std::string& name : m_globalNames)
        theGloalMem.RemoveKey(name.c_str());
}

HostTables::Outcome HostTables::Download(CFixComm& channel, CDataDictionary& dictionary,
                                         const std::function<void(const std::string&, int, int)>& progress) {
    Outcome outcome;
    std::vector<std::string> names;
    for (const auto* list : {&ModuleMapTables(), &GlobalMemTables(), &DictionaryTables()})
        for (const std::string& name : *list)
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);

    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (progress)
            progress(name, static_cast<int>(i), static_cast<int>(names.size()));
        auto table = std::make_unique<CMemRecord>();
        if (channel.DownloadTable(name.c_str(), *table)) {
            table->GoTop();
            m_downloaded[name] = std::move(table);
            outcome.loaded.push_back(name);
            continue;
        }
        const FixCommFailure& failure = channel.LastFailure();
        if (failure.status == kTransportFailure) {
            // The channel is gone: every further table would fail the same way, and a client with half
            // its tables would show lists that look empty rather than broken.
            outcome.ok = false;
            outcome.error = "downloading table " + name + ": " + failure.text.ToUtf8();
            return outcome;
        }
        outcome.missing.push_back(name);
    }

    const auto copyOf = [&](const std::string& name) -> CMemRecord* {
        const auto found = m_downloaded.find(name);
        if (found == m_downloaded.end())
            return nullptr;
        m_copies.push_back(std::make_unique<CMemRecord>(*found->second));
        m_copies.back()->GoTop();
        return m_copies.back().get();
    };
    for (const std::string& name : ModuleMapTables())
        if (CMemRecord* table = copyOf(name))
            m_moduleMap.SetAt(name.c_str(), table);
    for (const std::string& name : GlobalMemTables())
        if (CMemRecord* table = copyOf(name)) {
            theGloalMem.SetAt(name.c_str(), table);
            m_globalNames.push_back(name);
        }
    for (const std::string& name : DictionaryTables())
        if (const auto found = m_downloaded.find(name); found != m_downloaded.end())
            dictionary.AddTable(name.c_str(), *found->second);
    return outcome;
}

long HostTables::RowCount(const std::string& name) const {
    const auto found = m_downloaded.find(name);
    return found == m_downloaded.end() ? -1 : found->second->GetRecordCount();
}
