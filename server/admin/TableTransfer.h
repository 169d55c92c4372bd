// Export of a table to CSV text and import of such text into a table, all or nothing.
#pragma once

#include "server/admin/AdminStore.h"
#include "server/store/sqlite/Db.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace orvo::server::admin {

enum class FileEncoding { Utf8, Gbk };

struct ImportOptions {
    FileEncoding encoding = FileEncoding::Utf8;
    bool replace = false; // delete the table's rows first (in the same transaction)
};

// Writes the table as UTF-8 CSV with a header row of its column names.
bool exportTable(AdminStore& store, std::string_view table, std::string& csv, std::string& error);
bool exportTable(Db& db, std::string_view table, std::string& csv, std::string& error);

// Reads CSV text (header row of column names, any order; a column left out takes its default) into
// the table in one transaction. A bad row changes nothing; error then holds a line
// "FILE:LINE:FIELD: column NAME: reason" (FIELD counts from 1) for every bad row, up to 100, and then
// "and N more".
bool importTable(AdminStore& store, std::string_view table, std::string_view fileName, std::string_view csv,
                 const ImportOptions& options, std::size_t& rows, std::string& error);
bool importTable(Db& db, std::string_view table, std::string_view fileName, std::string_view csv,
                 const ImportOptions& options, std::size_t& rows, std::string& error);

} // namespace orvo::server::admin
