// A minimal file store for the transfer measurement: POST /v1/files answers an id, PUT bodies
// are read and dropped, GET /v1/files/<anything> streams the file named on the command line.
// Prints its port, then serves until killed. One thread per connection, keep-alive.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

std::string servedFile;

void reply(tcp::socket& socket, unsigned status, const std::string& body, bool keepAlive) {
    http::response<http::string_body> res{static_cast<http::status>(status), 11};
    res.keep_alive(keepAlive);
    res.body() = body;
    res.prepare_payload();
    http::write(socket, res);
}

void sendFile(tcp::socket& socket, bool keepAlive) {
    std::ifstream in(servedFile, std::ios::binary | std::ios::ate);
    const auto size = static_cast<unsigned long long>(in.tellg());
    in.seekg(0);
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                       "Content-Length: " +
                       std::to_string(size) + "\r\n" + (keepAlive ? "" : "Connection: close\r\n") +
                       "\r\n";
    asio::write(socket, asio::buffer(head));
    std::vector<char> buffer(1 << 18);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const std::size_t got = std::size_t(in.gcount());
        if (got == 0)
            break;
        asio::write(socket, asio::buffer(buffer.data(), got));
    }
}

void serve(tcp::socket socket) {
    beast::flat_buffer buffer;
    beast::error_code ec;
    for (;;) {
        http::request_parser<http::file_body> parser;
        parser.body_limit(~std::uint64_t(0));
        http::read_header(socket, buffer, parser, ec);
        if (ec)
            return;
        parser.get().body().open("/dev/null", beast::file_mode::write, ec);
        http::read(socket, buffer, parser, ec);
        if (ec)
            return;
        const auto& req = parser.get();
        const std::string target(req.target());
        const bool keepAlive = req.keep_alive();
        try {
            if (req.method() == http::verb::post && target == "/v1/files")
                reply(socket, 200, R"({"id":"bench"})", keepAlive);
            else if (req.method() == http::verb::put || req.method() == http::verb::post)
                reply(socket, 200, "", keepAlive);
            else if (req.method() == http::verb::get && target.rfind("/v1/files/", 0) == 0)
                sendFile(socket, keepAlive);
            else
                reply(socket, 404, "", keepAlive);
        } catch (const std::exception&) {
            return;
        }
        if (!keepAlive)
            return;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE_TO_SERVE\n", argv[0]);
        return 2;
    }
    servedFile = argv[1];
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    std::cout << acceptor.local_endpoint().port() << std::endl;
    for (;;) {
        tcp::socket socket(io);
        acceptor.accept(socket);
        std::thread(serve, std::move(socket)).detach();
    }
}
