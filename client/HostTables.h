// The code tables the host downloads at start-up (function 2) and where each one goes: the table map
// handed to the module (SetOrvoData 105), the host's global map theGloalMem and the data dictionary
// (SetOrvoData 106). A table the server does not have is left out of its map, so the module sees no
// table rather than an empty one with no columns.
#pragma once

#include "platform/Collections.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CDataDictionary;
class CFixComm;
class CMemRecord;

// The three lists, in the order they are handed over.
const std::vector<std::string>& ModuleMapTables();  // XTDM YYB QHJYS QHPZ KHQZ
const std::vector<std::string>& GlobalMemTables();  // QHHYDM
const std::vector<std::string>& DictionaryTables(); // QHXTDM XTDM JYS BZ YYB ZQLB YWKM QHPZ QHJYS JYLB

class HostTables {
public:
    HostTables();
    ~HostTables(); // removes its tables from theGloalMem
    HostTables(const HostTables&) = delete;
    HostTables& operator=(const HostTables&) = delete;

    struct Outcome {
        bool ok = true;                   // false: the channel failed; start-up cannot go on
        std::string error;                // why, when not ok
        std::vector<std::string> loaded;  // names that came, in download order
        std::vector<std::string> missing; // names the server refused (no such table, not permitted)
    };

    // Downloads every distinct name of the three lists once and fills the maps and the dictionary.
    // progress(name, index, count) runs before each download.
    Outcome Download(CFixComm& channel, CDataDictionary& dictionary,
                     const std::function<void(const std::string&, int, int)>& progress = {});

    CMapStringToPtr& ModuleMap() { return m_moduleMap; }
    // Rows of a loaded table (-1 when it did not come).
    long RowCount(const std::string& name) const;

private:
    std::map<std::string, std::unique_ptr<CMemRecord>> m_downloaded; // as received
    std::vector<std::unique_ptr<CMemRecord>> m_copies;               // the maps' own copies
    CMapStringToPtr m_moduleMap;
    std::vector<std::string> m_globalNames; // what this object put into theGloalMem
};
