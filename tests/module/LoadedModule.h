// The built module opened with dlopen, as the host opens it, with its seven entry points resolved.
#pragma once

#include "module/ModuleEntry.h"

#include <dlfcn.h>
#include <string>

class LoadedModule {
public:
    explicit LoadedModule(const char* path = ORVO_MODULE_PATH)
        : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (!m_handle) {
            m_error = dlerror();
            return;
        }
        resolve(init, "ModuleInit");
        resolve(main, "ModuleMain");
        resolve(close, "ModuleClose");
        resolve(setParam, "SetParam");
        resolve(getParam, "GetParam");
        resolve(setOrvoData, "SetOrvoData");
        resolve(setFunc, "SetFunc");
    }
    ~LoadedModule() {
        if (m_handle)
            dlclose(m_handle);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return m_handle && m_error.empty(); }
    const std::string& error() const { return m_error; }

    orvo::module::ModuleInitFn init = nullptr;
    orvo::module::ModuleMainFn main = nullptr;
    orvo::module::ModuleCloseFn close = nullptr;
    orvo::module::SetParamFn setParam = nullptr;
    orvo::module::GetParamFn getParam = nullptr;
    orvo::module::SetOrvoDataFn setOrvoData = nullptr;
    orvo::module::SetFuncFn setFunc = nullptr;

private:
    template <typename Fn> void resolve(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(dlsym(m_handle, name));
        if (!fn)
            m_error += std::string("missing ") + name + "; ";
    }

    void* m_handle;
    std::string m_error;
};
