#include <options.h>

#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace brindlewick::server;

TEST(ServerOptions, ParsesAndRefuses) {
    const auto ok = parseServerOptions({"--host", "0.0.0.0", "--chat-port=7", "--http-port", "8",
                                        "--data-dir", "/d", "--max-upload-bytes", "10"});
    ASSERT_EQ(ok.kind, OptionsResult::Run);
    EXPECT_EQ(ok.options.host, "0.0.0.0");
    EXPECT_EQ(ok.options.chatPort, 7);
    EXPECT_EQ(ok.options.httpPort, 8);
    EXPECT_EQ(ok.options.dataDir, "/d");
    EXPECT_EQ(ok.options.maxUploadBytes, 10u);
    EXPECT_EQ(parseServerOptions({"--help"}).kind, OptionsResult::Help);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--chat-port", "65536"},
                                               {"--http-port", "-1"},
                                               {"--chat-port"},
                                               {"--max-upload-bytes", "1e9"},
                                               {"--frobnicate"},
                                               {"--data-dir", ""}})
        EXPECT_EQ(parseServerOptions(bad).kind, OptionsResult::Error) << bad[0];
}

int runServer(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(BRINDLEWICK_SERVER_BINARY)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ServerOptions, BadOptionAndBusyPortExitWithTwo) {
    EXPECT_EQ(runServer({"--no-such-option"}), 2);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    char dir[] = "/tmp/brindlewick-busy-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    EXPECT_EQ(runServer({"--chat-port", std::to_string(ntohs(addr.sin_port)), "--http-port", "0",
                         "--data-dir", dir}),
              2);
    close(fd);
    std::system((std::string("rm -rf ") + dir).c_str());
}
