// orvo-client: the host application. For now it loads the module and prints its identity.
#include "client/ModuleInfo.h"
#include "client/ModuleLoader.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fputs("usage: orvo-client --module-info [MODULE]\n"
               "  --module-info  load the module (default: the one beside this program), call ModuleInit\n"
               "                 and print GetParam 1, 2, 3, 4, 5 and 8 as JSON\n",
               stderr);
    return 2;
}

int printModuleInfo(const std::string& path) {
    ModuleLoader module;
    if (!module.Load(path)) {
        std::fprintf(stderr, "orvo-client: %s\n", module.Error().c_str());
        return 1;
    }
    std::printf("%s\n", ModuleInfoJson(module).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--module-info") == 0 && argc <= 3)
        return printModuleInfo(argc == 3 ? argv[2] : ModuleLoader::DefaultModulePath());
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage();
        return 0;
    }
    return usage();
}
