#include "server_harness.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brindlewick::test {

std::string makeTempDir() {
    char path[] = "/tmp/brindlewick-server-test-XXXXXX";
    if (!::mkdtemp(path))
        throw std::runtime_error("mkdtemp failed");
    return path;
}

ServerProcess::ServerProcess(std::string dataDir, std::string extraArgs, Launch launch) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> args;
    if (launch.addressSpaceBytes > 0)
        args = {"prlimit", "--as=" + std::to_string(launch.addressSpaceBytes), "--"};
    args.push_back(launch.binary.empty() ? BRINDLEWICK_SERVER_BINARY : launch.binary);
    for (const char* arg : {"--chat-port", "0", "--http-port", "0", "--data-dir"})
        args.push_back(arg);
    args.push_back(dataDir);
    std::istringstream extra(extraArgs);
    for (std::string word; extra >> word;)
        args.push_back(word);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        if (!launch.logFile.empty()) {
            const int log = ::open(launch.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(log, 2);
            ::close(log);
        }
        for (const auto& [name, value] : launch.environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // prlimit execs the server in place, so pid_ is the server's either way.
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    // The server prints its ports once both are listening.
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 20000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    unsigned chat = 0, httpPort = 0;
    if (std::sscanf(line.c_str(), "chat-port %u http-port %u", &chat, &httpPort) != 2) {
        kill();
        throw std::runtime_error("server did not start: " + line);
    }
    chatPort = static_cast<std::uint16_t>(chat);
    this->httpPort = static_cast<std::uint16_t>(httpPort);
}

ServerProcess::~ServerProcess() {
    stop();
}

void ServerProcess::stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool ServerProcess::alive() const {
    if (pid_ <= 0)
        return false;
    int status = 0;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
}

long ServerProcess::statusKiB(const std::string& key) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

void ServerProcess::kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

ChatConnection::ChatConnection(std::uint16_t port, const char* from, const std::string& tlsCaFile) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            throw std::runtime_error("bind failed");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("connect failed");
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (tlsCaFile.empty())
        return;
    // Blocking reads and writes of whole records, each bounded so a stalled server fails a
    // test instead of hanging it.
    const timeval bound{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    // SSL_write has no MSG_NOSIGNAL: a server that closed would otherwise end the test.
    std::signal(SIGPIPE, SIG_IGN);
    tlsContext_ = SSL_CTX_new(TLS_client_method());
    if (!tlsContext_ || SSL_CTX_load_verify_locations(tlsContext_, tlsCaFile.c_str(), nullptr) != 1)
        throw std::runtime_error("cannot load CA " + tlsCaFile);
    SSL_CTX_set_verify(tlsContext_, SSL_VERIFY_PEER, nullptr);
    tls_ = SSL_new(tlsContext_);
    SSL_set_fd(tls_, fd_);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls_), "127.0.0.1");
    // A read that only finds a session ticket returns instead of waiting for data.
    SSL_clear_mode(tls_, SSL_MODE_AUTO_RETRY);
    if (SSL_connect(tls_) != 1) {
        char reason[256] = {};
        ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
        ERR_clear_error();
        SSL_free(tls_);
        SSL_CTX_free(tlsContext_);
        ::close(fd_);
        throw std::runtime_error(std::string("TLS handshake failed: ") + reason);
    }
}

ChatConnection::~ChatConnection() {
    if (tls_)
        SSL_free(tls_);
    if (tlsContext_)
        SSL_CTX_free(tlsContext_);
    if (fd_ >= 0)
        ::close(fd_);
}

void ChatConnection::sendRaw(const std::string& bytes) {
    std::size_t sent = 0;
    while (tls_ && sent < bytes.size()) {
        const int n =
            SSL_write(tls_, bytes.data() + sent,
                      static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 20)));
        if (n <= 0) {
            ERR_clear_error();
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

bool ChatConnection::fill(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if ((!tls_ || SSL_pending(tls_) == 0) && ::poll(&p, 1, timeoutMs) <= 0)
        return false;
    char chunk[65536];
    if (tls_) {
        const int n = SSL_read(tls_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        const int error = SSL_get_error(tls_, n);
        ERR_clear_error();
        if (error == SSL_ERROR_WANT_READ)
            return true; // a record without data, such as a session ticket
        eof_ = true;
        return false;
    }
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<Frame> ChatConnection::next(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::optional<Frame> frame;
        std::string rest = buffer_;
        // Take exactly one frame: cut the first one off a copy.
        if (buffer_.size() >= ChatProtocol::kHeaderSize) {
            const auto* h = reinterpret_cast<const unsigned char*>(buffer_.data());
            const std::size_t len = (std::size_t(h[4]) << 24) | (std::size_t(h[5]) << 16) |
                                    (std::size_t(h[6]) << 8) | h[7];
            if (buffer_.size() >= ChatProtocol::kHeaderSize + len) {
                std::string one = buffer_.substr(0, ChatProtocol::kHeaderSize + len);
                buffer_.erase(0, one.size());
                ChatProtocol::consumeBuffer(one, [&](std::uint8_t type, const FieldList& fields) {
                    frame = Frame{type, fields};
                });
                return frame;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || eof_ || !fill(static_cast<int>(left)))
            return std::nullopt;
    }
}

std::optional<Frame> ChatConnection::nextOf(std::uint8_t type, int timeoutMs) {
    for (;;) {
        auto frame = next(timeoutMs);
        if (!frame || frame->type == type)
            return frame;
    }
}

bool ChatConnection::signIn(const std::string& phone, const std::string& nick) {
    // Raw: Auth's encode writes the phone as nickname when there is none, and these tests
    // need users without one.
    sendRaw(ChatProtocol::encodeType(MessageType::Auth, {phone, nick, "", "상태"}));
    auto frame = next();
    return frame && frame->type == MessageType::AuthOk;
}

void ChatConnection::sendLarge(std::uint8_t type, const std::string& payload) {
    const auto n = static_cast<std::uint32_t>(payload.size());
    const char header[] = {static_cast<char>(ChatProtocol::kMagic0),
                           static_cast<char>(ChatProtocol::kMagic1),
                           static_cast<char>(ChatProtocol::kVersion),
                           static_cast<char>(type),
                           static_cast<char>(n >> 24),
                           static_cast<char>((n >> 16) & 0xFF),
                           static_cast<char>((n >> 8) & 0xFF),
                           static_cast<char>(n & 0xFF)};
    sendRaw(std::string(header, sizeof header));
    sendRaw(payload);
}

bool ChatConnection::closedByServer(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!eof_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        fill(static_cast<int>(left));
    }
    return true;
}

bool ChatConnection::quiet(int timeoutMs) {
    return !next(timeoutMs).has_value();
}

namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

} // namespace

namespace {

HttpAnswer request(const std::string& url, const std::string& caFile, const std::string& method,
                   const std::string& body, const std::string& bearer) {
    HttpAnswer answer;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    if (!caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    curl_slist* headers = nullptr;
    if (method != "GET") {
        // JSON for requests, bytes for chunks, as the client sends them.
        headers =
            curl_slist_append(headers, method == "POST" ? "Content-Type: application/json"
                                                        : "Content-Type: application/octet-stream");
        // Without this curl waits a second for "100 Continue" before a body over 1 MiB. Chunks
        // keep the wait: the server may refuse one by its headers, and then closes.
        if (method == "POST")
            headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    }
    if (!bearer.empty())
        headers = curl_slist_append(headers, ("Authorization: Bearer " + bearer).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

} // namespace

HttpAnswer http(std::uint16_t port, const std::string& method, const std::string& path,
                const std::string& body, const std::string& bearer) {
    return request("http://127.0.0.1:" + std::to_string(port) + path, {}, method, body, bearer);
}

HttpAnswer https(const std::string& caFile, std::uint16_t port, const std::string& method,
                 const std::string& path, const std::string& body) {
    return request("https://127.0.0.1:" + std::to_string(port) + path, caFile, method, body, {});
}

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

CommandExit runServerCommand(const std::vector<std::string>& args) {
    const std::string dir = makeTempDir();
    const std::string out = dir + "/out";
    const std::string err = dir + "/err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0)
            ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(BRINDLEWICK_SERVER_BINARY)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    CommandExit result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(out), readAll(err)};
    std::system(("rm -rf '" + dir + "'").c_str());
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}

} // namespace brindlewick::test
