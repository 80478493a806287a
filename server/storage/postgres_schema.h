#pragma once
// The PostgreSQL back end's tables, versioned: each start takes the schema from the version the
// database has to this server's, one process at a time.

#include "pg_connection.h"

namespace brindlewick::server {

constexpr int kPostgresSchemaVersion = 4;

// Throws DatabaseError when it cannot, or when the database is newer than this server.
void createPostgresSchema(PgConnection& db);

} // namespace brindlewick::server
