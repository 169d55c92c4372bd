// The table commands' view of the tables, made from the schema's description so that what import checks
// and export writes cannot drift from what the back-ends create.
#include "server/admin/AdminStore.h"
#include "server/store/SchemaTables.h"

namespace orvo::server::admin {
namespace {

ColumnKind kindOf(const schema::ColumnSpec& spec) {
    if (spec.type == schema::ColumnType::Integer)
        return ColumnKind::Integer;
    switch (spec.format) {
    case schema::TextFormat::Decimal:
        return ColumnKind::Decimal;
    case schema::TextFormat::Date:
        return ColumnKind::Date;
    case schema::TextFormat::Time:
        return ColumnKind::Time;
    case schema::TextFormat::Free:
        break;
    }
    return ColumnKind::Text;
}

} // namespace

const std::vector<std::string>& importableTables() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const schema::TableSpec& t : schema::tables())
            if (t.importable)
                list.emplace_back(t.name);
        return list;
    }();
    return names;
}

bool maintainedByDatabase(std::string_view table, std::string_view column) {
    const schema::TableSpec* spec = schema::findTable(table);
    const schema::ColumnSpec* c = spec ? schema::findColumn(*spec, column) : nullptr;
    return c && c->maintained;
}

bool describeTable(std::string_view table, TableInfo& info, std::string& error) {
    const schema::TableSpec* spec = schema::findTable(table);
    if (!spec || !spec->importable) {
        error = "no importable table '" + std::string(table) + "' (orvo-counterd tables lists them)";
        return false;
    }
    info = TableInfo{std::string(table), {}};
    for (const schema::ColumnSpec& s : spec->columns) {
        if (s.maintained)
            continue;
        Column c;
        c.name = std::string(s.name);
        c.kind = kindOf(s);
        c.rowKey = s.primaryKey && s.type == schema::ColumnType::Integer;
        c.required = !s.hasDefault() && !c.rowKey;
        c.emptyAllowed = c.kind == ColumnKind::Text || s.defaultSql == "''";
        c.maxBytes = s.maxBytes;
        c.refTable = std::string(s.refTable);
        c.refColumn = std::string(s.refColumn);
        info.columns.push_back(std::move(c));
    }
    return true;
}

bool describeTable(Db&, std::string_view table, TableInfo& info, std::string& error) {
    return describeTable(table, info, error);
}

} // namespace orvo::server::admin
