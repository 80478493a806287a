// Peak memory of brindlewick-server above idle while hostile HTTP input arrives: downloads
// that stop reading, requests a web page would send with large bodies, a large completion and
// a restart that re-examines a file renamed before its commit, and thousands of declared 1 GiB
// uploads from many addresses. The baseline is an ordinary upload and download of the same
// file in the same run; each figure is also given as a ratio to it.
//
//   http_hostile_bench [--connections 100] [--file-mib 32]
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

struct Server {
    pid_t pid = -1;
    std::uint16_t http = 0;
};

Server startServer(const std::string& dir) {
    int out[2];
    if (::pipe(out) != 0)
        std::exit(1);
    Server server;
    server.pid = ::fork();
    if (server.pid == 0) {
        ::dup2(out[1], 1);
        const int log = ::open((dir + "/server.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(log, 2);
        ::close(out[0]);
        ::execl(BRINDLEWICK_SERVER_BINARY, BRINDLEWICK_SERVER_BINARY, "--chat-port", "0",
                "--http-port", "0", "--data-dir", dir.c_str(), "--download-idle-timeout", "2",
                "--max-upload-bytes", "4611686018427387903", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    unsigned chat = 0, http = 0;
    if (std::sscanf(line.c_str(), "chat-port %u http-port %u", &chat, &http) != 2) {
        std::fprintf(stderr, "server did not start: %s\n", line.c_str());
        std::exit(1);
    }
    server.http = static_cast<std::uint16_t>(http);
    return server;
}

void stopServer(Server& server, int signal) {
    ::kill(server.pid, signal);
    ::waitpid(server.pid, nullptr, 0);
}

long statusKiB(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return 0;
}

bool resetPeak(pid_t pid) {
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

// `source` picks the client's loopback address, so one machine plays many clients.
int connectTo(std::uint16_t port, int receiveBuffer = 0, const char* source = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

// The status and body of one answer; the connection closes after it.
std::pair<int, std::string> readAnswer(int fd) {
    std::string data;
    char buffer[65536];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 20000) > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    std::sscanf(data.c_str(), "HTTP/1.1 %d", &status);
    const std::size_t end = data.find("\r\n\r\n");
    return {status, end == std::string::npos ? std::string() : data.substr(end + 4)};
}

std::string request(std::uint16_t port, const std::string& method, const std::string& path,
                    const std::string& type, const std::string& body, const std::string& extra = {},
                    const std::string& host = {}) {
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: " +
                       (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) + "\r\n" + extra;
    if (!type.empty())
        text += "Content-Type: " + type + "\r\n";
    if (method != "GET")
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "Connection: close\r\n\r\n" + body;
}

std::pair<int, std::string> call(std::uint16_t port, const std::string& method,
                                 const std::string& path, const std::string& type,
                                 const std::string& body, const char* source = nullptr) {
    const int fd = connectTo(port, 0, source);
    sendAll(fd, request(port, method, path, type, body));
    auto answer = readAnswer(fd);
    ::close(fd);
    return answer;
}

std::string fileId(const std::string& json) {
    const std::size_t at = json.find("\"id\":\"");
    return at == std::string::npos ? std::string() : json.substr(at + 6, 32);
}

std::string upload(std::uint16_t port, std::size_t bytes, bool finish) {
    const auto created = call(port, "POST", "/v1/files", "application/json",
                              "{\"name\":\"a\",\"size\":" + std::to_string(bytes) + "}");
    const std::string id = fileId(created.second);
    const std::string chunk(kMiB, 'x');
    for (std::size_t at = 0, n = 0; at < bytes; at += kMiB, ++n)
        call(port, "PUT", "/v1/files/" + id + "/chunks/" + std::to_string(n),
             "application/octet-stream", chunk.substr(0, std::min(kMiB, bytes - at)));
    if (finish)
        call(port, "POST", "/v1/files/" + id + "/complete", "application/json", "{}");
    return id;
}

struct Figure {
    std::string name;
    double mib = 0;    // peak above idle
    double growth = 0; // peak above the resident size when the input began
    std::string note;
};

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    int connections = 100;
    std::size_t fileMiB = 32;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--connections") == 0)
            connections = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--file-mib") == 0)
            fileMiB = static_cast<std::size_t>(std::atol(argv[i + 1]));
    }
    char pattern[] = "/tmp/http-hostile-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    Server server = startServer(dir);
    const std::uint16_t port = server.http;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long idleKiB = statusKiB(server.pid, "VmRSS:");
    if (!resetPeak(server.pid))
        std::fprintf(stderr, "cannot reset the peak; figures are peaks since start\n");

    std::vector<Figure> figures;
    auto measure = [&](const std::string& name, const std::function<std::string()>& input) {
        resetPeak(server.pid);
        // Freed memory may stay resident, so each input also counts from where it began.
        const long beganKiB = statusKiB(server.pid, "VmRSS:");
        const std::string note = input();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const long peakKiB = statusKiB(server.pid, "VmHWM:");
        figures.push_back(
            {name, (peakKiB - idleKiB) / 1024.0, (peakKiB - beganKiB) / 1024.0, note});
    };

    std::string file;
    measure("baseline: upload and download " + std::to_string(fileMiB) + " MiB", [&] {
        file = upload(port, fileMiB * kMiB, true);
        const auto got = call(port, "GET", "/v1/files/" + file, "", "");
        return "got " + std::to_string(got.second.size() / kMiB) + " MiB";
    });

    measure("downloads that stop reading (" + std::to_string(connections) + ")", [&] {
        std::vector<int> fds;
        for (int i = 0; i < connections; ++i) {
            fds.push_back(connectTo(port, 4096));
            sendAll(fds.back(), request(port, "GET", "/v1/files/" + file, "", ""));
        }
        std::this_thread::sleep_for(std::chrono::seconds(4)); // past the 2 s idle time
        int cut = 0;
        for (int fd : fds) {
            // What the server had queued still arrives; then the end of the stream.
            char buffer[65536];
            std::size_t total = 0;
            ssize_t n = -1;
            pollfd p{fd, POLLIN, 0};
            while (::poll(&p, 1, 3000) > 0 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                total += static_cast<std::size_t>(n);
            cut += n == 0 && total < fileMiB * kMiB;
            ::close(fd);
        }
        return std::to_string(cut) + " cut";
    });

    const std::string big(kMiB, '{');
    struct Hostile {
        std::string method, path, type, extra, host;
    };
    const std::vector<Hostile> hostile = {
        {"POST", "/v1/rooms", "application/json", "Origin: http://evil.example\r\n", ""},
        {"POST", "/v1/friends/add", "text/plain", "", ""},
        {"POST", "/v1/rooms", "application/json", "", "evil.example"},
    };
    measure("1 MiB bodies a web page could send (" + std::to_string(connections) + " x 3)", [&] {
        std::map<int, int> statuses;
        for (const Hostile& h : hostile) {
            std::vector<int> fds;
            for (int i = 0; i < connections; ++i) {
                fds.push_back(connectTo(port));
                sendAll(fds.back(), request(port, h.method, h.path, h.type, big, h.extra, h.host));
            }
            for (int fd : fds) {
                statuses[readAnswer(fd).first]++;
                ::close(fd);
            }
        }
        std::string note;
        for (const auto& [status, count] : statuses)
            note += std::to_string(count) + " x " + std::to_string(status) + " ";
        return note;
    });

    measure("completion of a " + std::to_string(2 * fileMiB) + " MiB upload", [&] {
        upload(port, 2 * fileMiB * kMiB, true);
        return std::string();
    });

    measure("2,000 declared 1 GiB uploads from 125 addresses", [&] {
        std::map<int, int> statuses;
        const auto began = std::chrono::steady_clock::now();
        for (int i = 0; i < 2000; ++i) {
            const std::string source = "127.0.1." + std::to_string(1 + i % 125);
            statuses[call(port, "POST", "/v1/files", "application/json",
                          "{\"name\":\"g\",\"size\":1073741824}", source.c_str())
                         .first]++;
        }
        std::string note;
        for (const auto& [status, count] : statuses)
            note += std::to_string(count) + " x " + std::to_string(status) + " ";
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        char time[32];
        std::snprintf(time, sizeof time, "in %.1f s", seconds);
        return note + time;
    });

    // A completion renamed on disk but never committed, re-examined by the next start.
    const std::string pending = upload(port, 2 * fileMiB * kMiB, false);
    stopServer(server, SIGKILL);
    std::rename((dir + "/files/" + pending + ".part").c_str(), (dir + "/files/" + pending).c_str());
    server = startServer(dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long restartKiB = statusKiB(server.pid, "VmHWM:");
    const auto recovered = call(server.http, "GET", "/v1/files/" + pending, "", "");
    figures.push_back(
        {"restart re-examining a renamed " + std::to_string(2 * fileMiB) + " MiB file",
         (restartKiB - idleKiB) / 1024.0, (restartKiB - idleKiB) / 1024.0,
         "then served " + std::to_string(recovered.first) + ", " +
             std::to_string(recovered.second.size() / kMiB) + " MiB"});
    stopServer(server, SIGTERM);

    std::printf("http_hostile_bench: idle %.1f MiB resident\n", idleKiB / 1024.0);
    const double baseline = figures.front().mib > 0 ? figures.front().mib : 1;
    for (const Figure& f : figures)
        std::printf("%-60s peak above idle %6.1f MiB (x%.2f of baseline), above its start "
                    "%6.1f MiB  %s\n",
                    f.name.c_str(), f.mib, f.mib / baseline, f.growth, f.note.c_str());
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
