// Loads an extension module with dlopen and resolves its seven entry points.
#pragma once

#include "module/ModuleEntry.h"

#include <string>

class ModuleLoader {
public:
    ModuleLoader() = default;
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // The module built beside this program.
    static std::string DefaultModulePath();

    // False, with a reason in Error(), when the library cannot be loaded or lacks an entry point.
    bool Load(const std::string& path);
    void Unload();
    bool IsLoaded() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }
    const std::string& Path() const { return m_path; }

    orvo::module::ModuleInitFn ModuleInit = nullptr;
    orvo::module::ModuleMainFn ModuleMain = nullptr;
    orvo::module::ModuleCloseFn ModuleClose = nullptr;
    orvo::module::SetParamFn SetParam = nullptr;
    orvo::module::GetParamFn GetParam = nullptr;
    orvo::module::SetOrvoDataFn SetOrvoData = nullptr;
    orvo::module::SetFuncFn SetFunc = nullptr;

private:
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};
