#include "options.h"

#include <cerrno>
#include <cstdlib>

namespace brindlewick::server {

namespace {

bool parseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty() || text.size() > 20)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > max)
        return false;
    out = value;
    return true;
}

} // namespace

std::string serverUsage() {
    return "Usage: brindlewick-server [options]\n"
           "  --host ADDR              address to listen on (default 127.0.0.1)\n"
           "  --chat-port N            chat port, 0 picks a free one (default 9000)\n"
           "  --http-port N            HTTP port, 0 picks a free one (default 9001)\n"
           "  --data-dir DIR           database and uploaded files\n"
           "                           (default $XDG_DATA_HOME/brindlewick-server)\n"
           "  --max-upload-bytes N     largest accepted file (default 1073741824)\n"
           "  --idle-timeout SECONDS   close silent chat connections (default 90)\n"
           "  --help                   show this text\n";
}

std::string defaultDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/')
        return std::string(xdg) + "/brindlewick-server";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/brindlewick-server";
}

OptionsResult parseServerOptions(const std::vector<std::string>& args) {
    OptionsResult result;
    ServerOptions& o = result.options;
    auto fail = [&](const std::string& text) {
        result.kind = OptionsResult::Error;
        result.error = text;
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            result.kind = OptionsResult::Help;
            return result;
        }
        const bool takesValue = name == "--host" || name == "--chat-port" ||
                                name == "--http-port" || name == "--data-dir" ||
                                name == "--max-upload-bytes" || name == "--idle-timeout";
        if (!takesValue)
            return fail("unknown option: " + args[i]);
        if (!hasValue) {
            if (i + 1 >= args.size())
                return fail("missing value for " + name);
            value = args[++i];
        }
        std::uint64_t number = 0;
        if (name == "--host") {
            if (value.empty())
                return fail("empty --host");
            o.host = value;
        } else if (name == "--chat-port" || name == "--http-port") {
            if (!parseUnsigned(value, 65535, number))
                return fail("bad port for " + name + ": " + value);
            (name == "--chat-port" ? o.chatPort : o.httpPort) = static_cast<std::uint16_t>(number);
        } else if (name == "--data-dir") {
            if (value.empty())
                return fail("empty --data-dir");
            o.dataDir = value;
        } else if (name == "--max-upload-bytes") {
            if (!parseUnsigned(value, UINT64_MAX / 2, number))
                return fail("bad --max-upload-bytes: " + value);
            o.maxUploadBytes = number;
        } else {
            if (!parseUnsigned(value, 86400, number) || number == 0)
                return fail("bad --idle-timeout: " + value);
            o.idleSeconds = static_cast<int>(number);
        }
    }
    if (o.dataDir.empty())
        o.dataDir = defaultDataDir();
    return result;
}

} // namespace brindlewick::server
