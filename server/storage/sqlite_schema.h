#pragma once
// The SQLite back end's tables, created where missing, and the columns and indexes added since
// the first release put into databases made before them.

#include "sqlite_connection.h"

namespace brindlewick::server {

void createSqliteSchema(SqliteConnection& db);

} // namespace brindlewick::server
