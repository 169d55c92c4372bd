// orvo-client: the host application. It logs an operator in to the counter server (or to the demo
// server it runs itself), downloads the code tables, loads the extension module and opens its functions;
// --script drives the same windows from a file for tests, demos and support.
#include "client/ClientApp.h"
#include "client/ClientOptions.h"
#include "client/Logging.h"
#include "client/ModuleInfo.h"
#include "client/ModuleLoader.h"

#include "orvo/Version.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int printModuleInfo(const std::string& path) {
    ModuleLoader module;
    if (!module.Load(path)) {
        std::fprintf(stderr, "orvo-client: %s\n", module.Error().c_str());
        return 1;
    }
    std::printf("%s\n", ModuleInfoJson(module).c_str());
    return 0;
}

bool haveDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return (platform && *platform) || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseClientOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "orvo-client: %s\n%s", error.c_str(), ClientUsage());
        return kExitUsage;
    }
    if (options->help) {
        std::fputs(ClientUsage(), stdout);
        return kExitOk;
    }
    if (options->version) {
        std::printf("orvo-client %s\n", ORVO_VERSION);
        return kExitOk;
    }
    if (options->moduleInfo)
        return printModuleInfo(options->modulePath.empty() ? ModuleLoader::DefaultModulePath()
                                                           : options->modulePath);

    if (!haveDisplay()) {
        if (options->scriptPath.empty() && options->printDump.empty()) {
            std::fprintf(stderr, "orvo-client: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                                 "run a script with --script, or set QT_QPA_PLATFORM=offscreen\n");
            return kExitUsage;
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1); // a script needs no screen
    }

    InstallStderrLog(options->verbosity);
    QApplication app(argc, argv);
    QApplication::setApplicationName("orvo-client");
    QApplication::setOrganizationName("orvo");
    InstallTranslations();
    if (!options->printDump.empty())
        return PrintDumpTables(options->printDump);
    ClientApp client(*options);
    return client.Run();
}
