#include "http_guard.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cctype>

namespace brindlewick::server {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

struct HostPort {
    std::string host; // lower case, IPv6 without brackets
    long port = 80;   // 80 when not written; -1 when unreadable
};

HostPort splitHost(std::string_view text) {
    HostPort out;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            out.port = -1;
            return out;
        }
        out.host = lower(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                out.port = -1;
                return out;
            }
            portText = rest.substr(1);
        }
    } else {
        const std::size_t colon = text.find(':');
        out.host = lower(text.substr(0, colon));
        if (colon != std::string_view::npos)
            portText = text.substr(colon + 1);
    }
    if (!portText.empty() || (!text.empty() && text.back() == ':')) {
        if (portText.empty() || portText.size() > 5 ||
            !std::all_of(portText.begin(), portText.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            out.port = -1;
            return out;
        }
        out.port = std::stol(std::string(portText));
    }
    return out;
}

std::optional<boost::asio::ip::address> ipOf(const std::string& text) {
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(text, ec);
    if (ec)
        return std::nullopt;
    return address;
}

} // namespace

HttpGuard::HttpGuard(std::string listenAddress, std::vector<std::string> names)
    : listenAddress_(std::move(listenAddress)) {
    // A name may be given with a port or brackets, as a Host header writes it; any port counts.
    for (const std::string& name : names)
        names_.push_back(ipOf(name) ? lower(name) : splitHost(name).host);
}

bool HttpGuard::hostAllowed(std::string_view text) const {
    const HostPort host = splitHost(trimmed(text));
    if (host.host.empty() || host.port < 0)
        return false;
    // Names the operator gave stand for this server on any port: a proxy may sit in front.
    if (std::find(names_.begin(), names_.end(), host.host) != names_.end())
        return true;
    if (host.port != port_)
        return false;
    const auto listening = ipOf(listenAddress_);
    const auto asked = ipOf(host.host);
    if (!listening)
        return false;
    if (asked && *asked == *listening)
        return true;
    // An address literal cannot be rebound by DNS, so on a wildcard listener any of the
    // machine's addresses may be the one the client used.
    if (listening->is_unspecified())
        return asked.has_value() || host.host == "localhost";
    if (listening->is_loopback())
        return host.host == "localhost" || (asked && asked->is_loopback());
    return false;
}

std::optional<HttpRefusal> HttpGuard::check(std::string_view method, bool hasOrigin,
                                            std::string_view host,
                                            std::string_view contentType) const {
    if (hasOrigin)
        return HttpRefusal{403, GuardText::kForeignPage};
    if (!hostAllowed(host))
        return HttpRefusal{403, GuardText::kUnknownHost};
    if (method == "POST" &&
        lower(trimmed(contentType.substr(0, contentType.find(';')))) != "application/json")
        return HttpRefusal{415, GuardText::kNotJson};
    return std::nullopt;
}

} // namespace brindlewick::server
