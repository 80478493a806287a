#pragma once
// Starts the real server process on free ports and talks to it like a client would.

#include <messages.h>

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace brindlewick::test {

// How the process is started, beyond its arguments.
struct Launch {
    std::string binary;                  // empty: the server built with the tests
    std::uint64_t addressSpaceBytes = 0; // non-zero: run under `prlimit --as`
    std::string logFile; // non-empty: stderr is appended there (restarts keep one log)
    std::vector<std::pair<std::string, std::string>> environment;
};

class ServerProcess {
public:
    explicit ServerProcess(std::string dataDir, std::string extraArgs = {}, Launch launch = {});
    ~ServerProcess();
    bool running() const { return pid_ > 0; }
    // Still running (not exited, not killed by a signal).
    bool alive() const;
    pid_t pid() const { return pid_; }
    // A "Vm…:" figure of /proc/<pid>/status in KiB (VmHWM, VmRSS, VmPeak), or -1.
    long statusKiB(const std::string& key) const;
    void stop(); // SIGTERM and wait
    void kill(); // SIGKILL and wait
    std::uint16_t chatPort = 0;
    std::uint16_t httpPort = 0;

private:
    pid_t pid_ = -1;
};

struct Frame {
    std::uint8_t type = 0;
    FieldList fields;
};

class ChatConnection {
public:
    static constexpr int kAnswerMs = 20000;
    // `from`: the local address to connect from (any of 127.0.0.0/8 works on Linux).
    // `tlsCaFile`: speak TLS, trusting only that CA and checking the name 127.0.0.1; throws
    // when the handshake fails.
    explicit ChatConnection(std::uint16_t port, const char* from = nullptr,
                            const std::string& tlsCaFile = {});
    ~ChatConnection();
    ChatConnection(const ChatConnection&) = delete;
    ChatConnection& operator=(const ChatConnection&) = delete;
    void sendRaw(const std::string& bytes);
    void send(std::uint8_t type, const FieldList& fields) {
        sendRaw(ChatProtocol::encodeType(type, fields));
    }
    template <typename Message> void send(const Message& message) {
        sendRaw(wire::encodeFrame(message));
    }
    // Next frame, skipping none. The default wait is far beyond any answer's time on a loaded
    // machine; it only bounds how long a missing answer takes to fail.
    std::optional<Frame> next(int timeoutMs = kAnswerMs);
    // Next frame of `type`, dropping others.
    std::optional<Frame> nextOf(std::uint8_t type, int timeoutMs = kAnswerMs);
    // Next frame of the message's type, decoded; nothing on timeout or a short layout.
    template <typename Message> std::optional<Message> nextMessage(int timeoutMs = kAnswerMs) {
        const auto frame = nextOf(Message::kType, timeoutMs);
        return frame ? Message::decode(frame->fields) : std::nullopt;
    }
    // Signs in and waits for AuthOk.
    bool signIn(const std::string& phone, const std::string& nick = {});
    // Sends a frame of `payloadBytes` in one go without building it twice in memory.
    void sendLarge(std::uint8_t type, const std::string& payload);
    // True when the server closed the connection within the time.
    bool closedByServer(int timeoutMs = kAnswerMs);
    // No frame arrives within the time (for refusals that must deliver nothing).
    bool quiet(int timeoutMs = 300);
    // The server closed the connection (seen by a read).
    bool eof() const { return eof_; }

private:
    bool fill(int timeoutMs);
    int fd_ = -1;
    ssl_ctx_st* tlsContext_ = nullptr;
    ssl_st* tls_ = nullptr;
    std::string buffer_;
    bool eof_ = false;
};

struct HttpAnswer {
    long status = 0;
    std::string body;
};

// `bearer`: sent as "Authorization: Bearer <bearer>" when not empty.
HttpAnswer http(std::uint16_t port, const std::string& method, const std::string& path,
                const std::string& body = {}, const std::string& bearer = {});
// The same over https, trusting only `caFile`; status 0 when no answer came.
HttpAnswer https(const std::string& caFile, std::uint16_t port, const std::string& method,
                 const std::string& path, const std::string& body = {});
std::string makeTempDir();
// A whole file's bytes; empty when it cannot be read.
std::string readFile(const std::string& path);
// Whether this build runs under AddressSanitizer or ThreadSanitizer, whose terabytes of shadow
// memory fit no address-space limit.
bool underSanitizer();

// A run of the server binary that ends by itself (help, version, bad settings, one-shot
// commands): its exit status (-1 when killed) and what it wrote.
struct CommandExit {
    int status = -1;
    std::string out;
    std::string err;
};
CommandExit runServerCommand(const std::vector<std::string>& args);

} // namespace brindlewick::test
