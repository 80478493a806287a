#pragma once
// A throw-away CA and a server certificate it signed (for 127.0.0.1 and localhost), made with
// the openssl command once per test process.

#include <string>

namespace brindlewick::test {

struct TestCertificates {
    std::string dir;
    std::string caFile;       // the CA's certificate, PEM
    std::string certFile;     // the server's certificate, PEM
    std::string keyFile;      // the server's private key, PEM
    std::string otherKeyFile; // a key that belongs to no certificate here
    std::string error;        // non-empty when openssl failed; the files are then missing
};

// Made on first use; the folder is removed when the process exits.
const TestCertificates& testCertificates();

// "--tls-cert FILE --tls-key FILE" for ServerProcess.
std::string tlsServerArgs();

} // namespace brindlewick::test
