#include "server/demo/PrepareStore.h"

#include "server/store/sqlite/Schema.h"

namespace orvo::server {

bool prepareStore(const std::string& path, const DemoOptions* demo, std::string& error) {
    Db db;
    if (!db.open(path, false, error) || !createSchema(db, error))
        return false;
    bool empty = false;
    if (!isEmpty(db, empty, error))
        return false;
    if (empty && demo) {
        // Statistics let the planner tell a kind with a hundred thousand rules from one with sixty.
        return seedDemo(db, *demo, error) && db.exec("ANALYZE", error);
    }
    return true;
}

} // namespace orvo::server
