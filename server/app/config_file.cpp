#include "config_file.h"

#include <boost/program_options/parsers.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace po = boost::program_options;

namespace brindlewick::server {

namespace {

// A settings file is a few hundred bytes; the limit keeps --config /dev/zero from hanging.
constexpr std::size_t maxFileBytes = 1024 * 1024;

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool readWhole(const std::string& path, std::string& content, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = path + ": is a directory, not a configuration file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read configuration file: " + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(maxFileBytes + 1);
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::size_t size = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        error = path + ": cannot read configuration file";
        return false;
    }
    if (size > maxFileBytes) {
        error = path + ": configuration file larger than 1 MiB";
        return false;
    }
    content.assign(buffer.data(), size);
    // Some editors start UTF-8 files with a byte order mark; it is no part of the first name.
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
        content.erase(0, 3);
    return true;
}

// The line of every "name = value", in the order the library reports the options, read by the
// library's rules: '#' starts a comment anywhere on a line. Sections ("[name]") would only
// prefix names that no option has, so they are refused where they stand.
bool scanLines(const std::string& path, const std::string& content,
               const po::options_description& settings, std::vector<int>& valueLines,
               std::string& error) {
    std::istringstream in(content);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = trimmed(line.substr(0, line.find('#')));
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (text.empty())
            continue;
        const std::size_t equals = text.find('=');
        if (text.front() == '[' || equals == std::string::npos) {
            error = where + "expected 'name = value', not '" + text + "'";
            return false;
        }
        const std::string name = trimmed(text.substr(0, equals));
        if (!settings.find_nothrow(name, false)) {
            error = where + "unknown key '" + name + "'";
            return false;
        }
        valueLines.push_back(number);
    }
    return true;
}

} // namespace

bool storeConfigFile(const std::string& path, const po::options_description& settings,
                     po::variables_map& into, std::string& error) {
    std::string content;
    std::vector<int> valueLines;
    if (!readWhole(path, content, error) || !scanLines(path, content, settings, valueLines, error))
        return false;
    try {
        std::istringstream in(content);
        const po::parsed_options parsed = po::parse_config_file(in, settings);
        // Each value alone first, so a bad one is reported with its line.
        for (std::size_t i = 0; i < parsed.options.size(); ++i) {
            po::parsed_options one(&settings);
            one.options.push_back(parsed.options[i]);
            po::variables_map scratch;
            try {
                po::store(one, scratch);
            } catch (const po::error& e) {
                const std::string line =
                    i < valueLines.size() ? std::to_string(valueLines[i]) + ":" : "";
                error = path + ":" + line + " " + e.what();
                return false;
            }
        }
        po::store(parsed, into);
    } catch (const po::error& e) {
        error = path + ": " + e.what();
        return false;
    }
    return true;
}

} // namespace brindlewick::server
