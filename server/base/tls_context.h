#pragma once
// The server's TLS settings, shared by the chat port and the HTTP port.

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

namespace brindlewick::server {

// From a PEM certificate chain and its PEM private key; nothing with a reason when either cannot
// be read or they do not belong together.
std::unique_ptr<boost::asio::ssl::context>
loadTlsContext(const std::string& certFile, const std::string& keyFile, std::string& error);

} // namespace brindlewick::server
