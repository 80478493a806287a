#pragma once
// Starts the real server process on free ports and talks to it like a client would.

#include <messages.h>

#include <optional>
#include <string>
#include <sys/types.h>

namespace brindlewick::test {

class ServerProcess {
public:
    // `logPath`: where the server's log (its stderr) goes; empty leaves it on ours.
    explicit ServerProcess(std::string dataDir, std::string extraArgs = {},
                           std::string logPath = {});
    ~ServerProcess();
    bool running() const { return pid_ > 0; }
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
    explicit ChatConnection(std::uint16_t port);
    ~ChatConnection();
    void sendRaw(const std::string& bytes);
    void send(std::uint8_t type, const FieldList& fields) {
        sendRaw(ChatProtocol::encodeType(type, fields));
    }
    template <typename Message> void send(const Message& message) {
        sendRaw(wire::encodeFrame(message));
    }
    // Next frame within five seconds, skipping none.
    std::optional<Frame> next(int timeoutMs = 5000);
    // Next frame of `type`, dropping others.
    std::optional<Frame> nextOf(std::uint8_t type, int timeoutMs = 5000);
    // Next frame of the message's type, decoded; nothing on timeout or a short layout.
    template <typename Message> std::optional<Message> nextMessage(int timeoutMs = 5000) {
        const auto frame = nextOf(Message::kType, timeoutMs);
        return frame ? Message::decode(frame->fields) : std::nullopt;
    }
    // Signs in and waits for AuthOk.
    bool signIn(const std::string& phone, const std::string& nick = {});
    // True when the server closed the connection within the time.
    bool closedByServer(int timeoutMs = 5000);
    // No frame arrives within the time (for refusals that must deliver nothing).
    bool quiet(int timeoutMs = 300);

private:
    bool fill(int timeoutMs);
    int fd_ = -1;
    std::string buffer_;
    bool eof_ = false;
};

struct HttpAnswer {
    long status = 0;
    std::string body;
};

HttpAnswer http(std::uint16_t port, const std::string& method, const std::string& path,
                const std::string& body = {});
std::string makeTempDir();

} // namespace brindlewick::test
