#include "client/ModuleLoader.h"

#include "orvo/Version.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace {

constexpr const char* kModuleFileName = "libext_order_query.so";

template <typename Fn> bool resolve(void* handle, const char* name, Fn& fn, std::string& missing) {
    fn = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!fn)
        missing += missing.empty() ? name : std::string(", ") + name;
    return fn != nullptr;
}

} // namespace

ModuleLoader::~ModuleLoader() {
    Unload();
}

std::string ModuleLoader::DefaultModulePath() {
    // Beside the program in a build tree; in an installation the private library folder, found from
    // the program's own place so that any install prefix works, else where it was configured to be.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::string(ORVO_PRIVATE_LIBDIR) + "/" + kModuleFileName;
    const std::filesystem::path beside = self.parent_path() / kModuleFileName;
    const std::filesystem::path installed = self.parent_path() / ORVO_BIN_TO_LIBDIR / kModuleFileName;
    if (std::filesystem::exists(beside, error))
        return beside.string();
    if (std::filesystem::exists(installed, error))
        return installed.lexically_normal().string();
    return std::string(ORVO_PRIVATE_LIBDIR) + "/" + kModuleFileName;
}

bool ModuleLoader::Load(const std::string& path) {
    Unload();
    m_path = path;
    m_error.clear();
    // A bare file name would make dlopen search the library path; the host means a file.
    const std::string target = path.find('/') == std::string::npos ? "./" + path : path;
    m_handle = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* reason = dlerror();
        m_error = reason ? reason : "cannot load " + path;
        return false;
    }
    std::string missing;
    resolve(m_handle, "ModuleInit", ModuleInit, missing);
    resolve(m_handle, "ModuleMain", ModuleMain, missing);
    resolve(m_handle, "ModuleClose", ModuleClose, missing);
    resolve(m_handle, "SetParam", SetParam, missing);
    resolve(m_handle, "GetParam", GetParam, missing);
    resolve(m_handle, "SetOrvoData", SetOrvoData, missing);
    resolve(m_handle, "SetFunc", SetFunc, missing);
    if (!missing.empty()) {
        m_error = path + " is not an extension module (missing " + missing + ")";
        Unload();
        return false;
    }
    return true;
}

void ModuleLoader::Unload() {
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
    ModuleInit = nullptr;
    ModuleMain = nullptr;
    ModuleClose = nullptr;
    SetParam = nullptr;
    GetParam = nullptr;
    SetOrvoData = nullptr;
    SetFunc = nullptr;
}
