#include "client/ModuleInfo.h"

#include "client/ModuleLoader.h"

#include <cstdio>

std::string JsonQuote(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

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
