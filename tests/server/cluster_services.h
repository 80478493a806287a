#pragma once
// The services a cluster of server instances runs with, each started on free local ports by
// the test that needs it and stopped with it: a NATS server and HAProxy in front of the
// instances.

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindlewick::test {

// A port nothing listens on right now (bound and released: another process, such as a test
// running beside this one, could take it in between; the services below then try another).
std::uint16_t freePort();
class Child;
// Whether something accepts connections on 127.0.0.1:`port` within `timeoutMs`; false at once
// when `child` is given and has exited (it could not listen there).
bool accepting(std::uint16_t port, int timeoutMs, const Child* child = nullptr);

// A child process in the foreground; stopped with SIGTERM (and waited for) when destroyed.
class Child {
public:
    Child() = default;
    explicit Child(const std::vector<std::string>& argv, const std::string& logFile = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    void stop();
    bool running() const { return pid_ > 0; }
    // Started and not exited yet.
    bool alive() const;

private:
    pid_t pid_ = -1;
};

class NatsServer {
public:
    NatsServer(); // on a free port
    ~NatsServer() { stop(); }
    std::string url() const { return "nats://127.0.0.1:" + std::to_string(port_); }
    std::uint16_t port() const { return port_; }
    void stop() { process_.stop(); }
    // Again on the same port.
    void start();

private:
    bool launch();
    std::uint16_t port_ = 0;
    Child process_;
};

struct Backend {
    std::uint16_t chatPort;
    std::uint16_t httpPort;
};

// TCP for the chat port, HTTP for the API, round robin over the backends, each checked through
// its /healthz every 300 ms so a dead or frozen one is out of rotation within a few seconds;
// connections carry a PROXY protocol v2 header (the instances trust 127.0.0.1).
class Haproxy {
public:
    Haproxy(const std::string& dir, const std::vector<Backend>& backends);
    std::uint16_t chatPort() const { return chatPort_; }
    std::uint16_t httpPort() const { return httpPort_; }

private:
    bool launch(const std::string& dir, const std::vector<Backend>& backends);
    std::uint16_t chatPort_ = 0;
    std::uint16_t httpPort_ = 0;
    Child process_;
};

} // namespace brindlewick::test
