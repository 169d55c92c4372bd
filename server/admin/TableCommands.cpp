// tables | export TABLE FILE | import TABLE FILE
#include "server/admin/Commands.h"
#include "server/admin/TableTransfer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace orvo::server::admin {
namespace {

constexpr std::uintmax_t kMaxImportBytes = 1024ull * 1024 * 1024;

struct TableArgs {
    std::string db, table, file, encoding = "utf-8";
    bool replace = false;
};

bool readFile(const std::string& path, std::string& text) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "orvo-counterd: %s: no such file\n", path.c_str());
        return false;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxImportBytes) {
        std::fprintf(stderr, "orvo-counterd: %s: larger than 1 GiB; split it\n", path.c_str());
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "orvo-counterd: %s: cannot read\n", path.c_str());
        return false;
    }
    text = std::move(all).str();
    return true;
}

// Writes to FILE.tmp and renames, so a failed export never leaves half a file under the name.
bool writeFile(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    if (!createPrivateFile(temp))
        return false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::fprintf(stderr, "orvo-counterd: %s: cannot write\n", temp.c_str());
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "orvo-counterd: %s: cannot write\n", path.c_str());
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

int exportCommand(const CommandContext& context, TableArgs& args) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    const std::unique_ptr<AdminStore> store = openForCommand(args.db);
    if (!store)
        return kExitFailed;
    std::string csv, error;
    if (!exportTable(*store, args.table, csv, error)) {
        std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
        return kExitFailed;
    }
    return writeFile(args.file, csv) ? kExitDone : kExitFailed;
}

int importCommand(const CommandContext& context, TableArgs& args) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    ImportOptions options;
    options.replace = args.replace;
    options.encoding = args.encoding == "gbk" ? FileEncoding::Gbk : FileEncoding::Utf8;
    std::string csv, error;
    if (!readFile(args.file, csv))
        return kExitFailed;
    std::unique_ptr<AdminStore> store = openForCommand(args.db);
    if (!store)
        return kExitFailed;
    const auto start = std::chrono::steady_clock::now();
    std::size_t rows = 0;
    if (!importTable(*store, args.table, args.file, csv, options, rows, error)) {
        for (std::size_t at = 0; at < error.size();) { // one line per bad row
            const std::size_t end = std::min(error.find('\n', at), error.size());
            std::fprintf(stderr, "orvo-counterd: %.*s\n", static_cast<int>(end - at), error.data() + at);
            at = end + 1;
        }
        std::fprintf(stderr, "orvo-counterd: nothing imported\n");
        return kExitFailed;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    store.reset();
    foldWriteAhead(args.db);
    std::fprintf(stderr, "orvo-counterd: %zu rows imported into %s in %.2f s\n", rows, args.table.c_str(),
                 seconds);
    return kExitDone;
}

} // namespace

void addTableCommands(CLI::App& app, const CommandContext& context) {
    auto args = std::make_shared<TableArgs>();

    CLI::App* tables =
        app.add_subcommand("tables", "list the importable tables in an order that satisfies references");
    addDbOption(*tables, args->db);
    tables->callback([context, args] {
        *context.chosen = [context, args] {
            if (!resolveDb(context, args->db))
                return kExitUsage;
            if (!openForCommand(args->db))
                return kExitFailed;
            for (const std::string& name : importableTables())
                std::printf("%s\n", name.c_str());
            return kExitDone;
        };
    });

    CLI::App* exporting =
        app.add_subcommand("export", "write a table as CSV (UTF-8, header row of column names)");
    exporting->add_option("TABLE", args->table, "table name (see: tables)")->required();
    exporting->add_option("FILE", args->file, "CSV file to write")->required();
    addDbOption(*exporting, args->db);
    exporting->callback(
        [context, args] { *context.chosen = [context, args] { return exportCommand(context, *args); }; });

    CLI::App* importing = app.add_subcommand("import", "read a CSV file into a table, all rows or none");
    importing->add_option("TABLE", args->table, "table name (see: tables)")->required();
    importing->add_option("FILE", args->file, "CSV file with a header row of column names")->required();
    addDbOption(*importing, args->db);
    importing->add_option("--encoding", args->encoding, "text encoding of the file: utf-8 (default) or gbk")
        ->check(CLI::IsMember({"utf-8", "gbk"}));
    importing->add_flag("--replace", args->replace, "delete the table's rows first, in the same transaction");
    importing->callback(
        [context, args] { *context.chosen = [context, args] { return importCommand(context, *args); }; });
}

} // namespace orvo::server::admin
