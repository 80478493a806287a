#include "test_certificates.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace brindlewick::test {

namespace {

struct Made : TestCertificates {
    Made() {
        char path[] = "/tmp/brindlewick-certs-XXXXXX";
        if (!::mkdtemp(path)) {
            error = "mkdtemp failed";
            return;
        }
        dir = path;
        caFile = dir + "/ca.pem";
        certFile = dir + "/server.pem";
        keyFile = dir + "/server.key";
        otherKeyFile = dir + "/other.key";
        std::ofstream(dir + "/server.ext") << "basicConstraints=CA:FALSE\n"
                                              "keyUsage=digitalSignature,keyEncipherment\n"
                                              "extendedKeyUsage=serverAuth\n"
                                              "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        // EC keys: quick to make, so the suite does not wait on RSA prime searches.
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string commands[] = {
            "openssl req -x509 -days 2" + key + " -keyout ca.key -out ca.pem" +
                " -subj '/CN=Brindlewick Test CA'" + " -addext basicConstraints=critical,CA:TRUE" +
                " -addext keyUsage=critical,keyCertSign,cRLSign",
            "openssl req" + key + " -keyout server.key -out server.csr -subj /CN=localhost",
            "openssl x509 -req -days 2 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
            " -out server.pem -extfile server.ext",
            "openssl genpkey -algorithm ec -pkeyopt ec_paramgen_curve:prime256v1 -out other.key",
        };
        for (const std::string& command : commands) {
            const std::string line = "cd " + dir + " && " + command + " >>openssl.log 2>&1";
            if (std::system(line.c_str()) != 0) {
                std::ifstream log(dir + "/openssl.log");
                std::ostringstream text;
                text << log.rdbuf();
                error = "openssl failed: " + command + "\n" + text.str();
                return;
            }
        }
    }
    ~Made() {
        if (!dir.empty())
            std::system(("rm -rf " + dir).c_str());
    }
};

} // namespace

const TestCertificates& testCertificates() {
    static const Made made;
    return made;
}

std::string tlsServerArgs() {
    const TestCertificates& c = testCertificates();
    if (!c.error.empty())
        throw std::runtime_error(c.error);
    return "--tls-cert " + c.certFile + " --tls-key " + c.keyFile;
}

} // namespace brindlewick::test
