#include "cluster_services.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brindlewick::test {

namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

} // namespace

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool accepting(std::uint16_t port, int timeoutMs, const Child* child) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (child && !child->alive())
            return false;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = loopback(port);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

Child::Child(const std::vector<std::string>& argv, const std::string& logFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
        const int out = ::open(logFile.empty() ? "/dev/null" : logFile.c_str(),
                               O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
}

Child::~Child() {
    stop();
}

bool Child::alive() const {
    // Looked at without reaping it, so stop() still waits for the right process.
    siginfo_t info{};
    return pid_ > 0 &&
           ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

Child::Child(Child&& other) noexcept : pid_(other.pid_) {
    other.pid_ = -1;
}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

void Child::stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

NatsServer::NatsServer() {
    // A port lost to another process between freePort() and the listen: try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        if (launch())
            return;
    }
    throw std::runtime_error("nats-server did not start on port " + std::to_string(port_));
}

void NatsServer::start() {
    if (!launch())
        throw std::runtime_error("nats-server did not start on port " + std::to_string(port_));
}

bool NatsServer::launch() {
    process_ = Child({"nats-server", "-a", "127.0.0.1", "-p", std::to_string(port_)});
    // Generous: a loaded machine may take a while to start it.
    if (accepting(port_, 30000, &process_))
        return true;
    process_.stop();
    return false;
}

Haproxy::Haproxy(const std::string& dir, const std::vector<Backend>& backends) {
    // A port lost to another process between freePort() and the listen: try others.
    for (int attempt = 0; attempt < 5; ++attempt) {
        chatPort_ = freePort();
        httpPort_ = freePort();
        if (launch(dir, backends))
            return;
    }
    throw std::runtime_error("haproxy did not start; see " + dir + "/haproxy.log");
}

bool Haproxy::launch(const std::string& dir, const std::vector<Backend>& backends) {
    const std::string config = dir + "/haproxy.cfg";
    std::ofstream out(config);
    // Both backends are checked through the instance's /healthz, which answers only while its
    // I/O thread and database worker run: a frozen instance is out within a few checks. The
    // PROXY header tells the instances who the client is.
    const char* checks = "  option httpchk GET /healthz\n  timeout check 2s\n";
    out << "global\n  maxconn 4000\n"
           "defaults\n  timeout connect 1s\n  timeout client 5m\n  timeout server 5m\n"
           "  retries 2\n  option redispatch\n"
           "frontend chat\n  mode tcp\n  bind 127.0.0.1:"
        << chatPort_
        << "\n  default_backend instances_chat\n"
           "backend instances_chat\n  mode tcp\n  balance roundrobin\n"
        << checks;
    for (std::size_t i = 0; i < backends.size(); ++i)
        out << "  server i" << i << " 127.0.0.1:" << backends[i].chatPort << " check port "
            << backends[i].httpPort
            << " inter 300 fall 2 rise 2 on-marked-down shutdown-sessions send-proxy-v2\n";
    out << "frontend api\n  mode http\n  bind 127.0.0.1:" << httpPort_
        << "\n  default_backend instances_api\n"
           "backend instances_api\n  mode http\n  balance roundrobin\n"
        << checks;
    for (std::size_t i = 0; i < backends.size(); ++i)
        out << "  server i" << i << " 127.0.0.1:" << backends[i].httpPort
            << " check inter 300 fall 2 rise 2 on-marked-down shutdown-sessions send-proxy-v2\n";
    out.close();
    process_ = Child({"haproxy", "-db", "-f", config}, dir + "/haproxy.log");
    // Generous: a loaded machine may take a while to start it.
    if (accepting(chatPort_, 30000, &process_) && accepting(httpPort_, 30000, &process_))
        return true;
    process_.stop();
    return false;
}

} // namespace brindlewick::test
