#include "client/ModuleInfo.h"

#include "client/Json.h"
#include "client/ModuleLoader.h"

std::string ModuleInfoJson(const ModuleLoader& module) {
    module.ModuleInit();
    std::string json = "{";
    for (const long code : {1L, 2L, 3L, 4L, 5L, 8L}) {
        if (json.size() > 1)
            json += ",";
        json += JsonQuote(std::to_string(code)) + ":" + JsonQuote(module.GetParam(code).ToUtf8());
    }
    return json + "}";
}
