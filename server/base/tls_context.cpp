#include "tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <boost/asio/ssl/error.hpp>

namespace brindlewick::server {

namespace asio = boost::asio;

namespace {

// OpenSSL's reasons are terse ("no start line"); the file named with it says enough.
std::string describe(const boost::system::system_error& e) {
    std::string text = e.code().message();
    if (text.empty() || text == "unspecified system_category error")
        text = e.what();
    return text;
}

} // namespace

std::unique_ptr<asio::ssl::context> loadTlsContext(const std::string& certFile,
                                                   const std::string& keyFile, std::string& error) {
    auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    // TLS 1.2 and newer only; the others have known weaknesses.
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
    // Idle and half-open connections give their record buffers back: thousands of stalled
    // handshakes would otherwise hold tens of kilobytes each.
    SSL_CTX_set_mode(context->native_handle(), SSL_MODE_RELEASE_BUFFERS);
    context->set_options(asio::ssl::context::default_workarounds |
                         asio::ssl::context::single_dh_use);
    try {
        context->use_certificate_chain_file(certFile);
    } catch (const boost::system::system_error& e) {
        error = "TLS certificate " + certFile + ": " + describe(e);
        return nullptr;
    }
    const std::string mismatch =
        "TLS key " + keyFile + " does not belong to the certificate " + certFile;
    try {
        context->use_private_key_file(keyFile, asio::ssl::context::pem);
    } catch (const boost::system::system_error& e) {
        const bool otherKey = e.code().category() == asio::error::get_ssl_category() &&
                              ERR_GET_REASON(static_cast<unsigned long>(e.code().value())) ==
                                  X509_R_KEY_VALUES_MISMATCH;
        error = otherKey ? mismatch : "TLS key " + keyFile + ": " + describe(e);
        return nullptr;
    }
    if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
        ERR_clear_error();
        error = mismatch;
        return nullptr;
    }
    return context;
}

} // namespace brindlewick::server
