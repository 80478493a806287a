#pragma once
// What every storage back end throws when the database fails a statement: the worker then
// rolls back the job that called it.

#include <stdexcept>

namespace brindlewick::server {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace brindlewick::server
