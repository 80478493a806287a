#pragma once
// The server's settings file: Boost.Program_options' "name = value" lines, with each mistake
// reported by file and line, which the library alone does not say.

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <string>

namespace brindlewick::server {

// Stores the file's values into `into`; values already there from the command line or the
// environment stay. False with `error` ("FILE:LINE: what") when the file cannot be read, a
// line is not "name = value", names no option in `settings`, or holds a bad value.
bool storeConfigFile(const std::string& path,
                     const boost::program_options::options_description& settings,
                     boost::program_options::variables_map& into, std::string& error);

} // namespace brindlewick::server
