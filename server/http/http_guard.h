#pragma once
// Which requests the HTTP port takes at all. A web page must not drive the API: requests
// carrying an Origin are refused, the Host must name this server (its listening address, or
// a name given with --http-host), which defeats DNS rebinding, and POST bodies must be JSON,
// which no form or simple cross-site fetch can send.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlewick::server {

struct HttpRefusal {
    unsigned status = 0;
    const char* text = "";
};

class HttpGuard {
public:
    // `listenAddress` as given to --host; `names` from --http-host.
    HttpGuard(std::string listenAddress, std::vector<std::string> names);
    // The port actually bound, known once listening.
    void setPort(std::uint16_t port) { port_ = port; }

    // `origin` and `host` are empty when the header is missing.
    std::optional<HttpRefusal> check(std::string_view method, bool hasOrigin, std::string_view host,
                                     std::string_view contentType) const;
    bool hostAllowed(std::string_view host) const;

private:
    std::string listenAddress_;
    std::vector<std::string> names_; // lower case
    std::uint16_t port_ = 0;
};

namespace GuardText {
inline const char* const kForeignPage = "웹 페이지에서 보낸 요청은 받지 않습니다";
inline const char* const kUnknownHost = "이 서버의 주소가 아닙니다";
inline const char* const kNotJson = "JSON 본문만 받습니다";
} // namespace GuardText

} // namespace brindlewick::server
