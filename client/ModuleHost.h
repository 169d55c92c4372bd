// Hands the host's objects to a loaded module in the order a host does, and reads its identity:
// ModuleInit; SetOrvoData 102, 103, 105, 106; SetParam(6, the function's name); GetParam 1 to 5 and 8.
// Every refusal is followed by GetParam(7), whose status text goes to the log.
#pragma once

#include "client/ModuleLoader.h"

#include <functional>
#include <string>
#include <vector>

class CDataDictionary;
class CFixComm;
class CMapStringToPtr;
class COrvoIni;

struct HostObjects {
    CFixComm* fixComm = nullptr;
    COrvoIni* ini = nullptr;
    CMapStringToPtr* tableMap = nullptr;
    CDataDictionary* dictionary = nullptr;
};

struct ModuleIdentity {
    std::string buildDate, category, name, version, description; // UTF-8
    std::vector<long> functions;                                 // GetParam(8)
};

// The host's own name for a function, as its menu shows it (UTF-8); empty when it has none.
std::string HostFunctionName(long function);

// "893,894" -> {893, 894}; entries that are not numbers are skipped.
std::vector<long> ParseFunctionList(const std::string& text);

class ModuleHost {
public:
    using Logger = std::function<void(const std::string&)>;

    explicit ModuleHost(Logger warn = {}) : m_warn(std::move(warn)) {}

    // Loads the library and runs the hand-over. False, with the reason, when it cannot be loaded.
    bool Open(const std::string& path, const HostObjects& objects, std::string& error);
    void Close(); // ModuleClose, then unload

    const ModuleIdentity& Identity() const { return m_identity; }
    bool Serves(long function) const;
    // Runs ModuleMain for function; returns the module's status text afterwards ("" when none), which
    // tells why a window did not open.
    std::string RunMain(long function);
    bool IsOpen() const { return m_loader.IsLoaded(); }
    bool IsRunning() const { return m_running; }

private:
    std::string statusAfterRefusal(const std::string& call);

    ModuleLoader m_loader;
    ModuleIdentity m_identity;
    Logger m_warn;
    bool m_running = false;
};
