#include <brindlewick_version.h>
#include <options.h>

#include "server_harness.h"
#include "test_certificates.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <set>
#include <sstream>
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
    EXPECT_EQ(parseServerOptions({"-h"}).kind, OptionsResult::Help);
    EXPECT_EQ(parseServerOptions({"--version"}).kind, OptionsResult::Version);
    const auto repeated = parseServerOptions({"--chat-port", "5", "--chat-port=6"});
    ASSERT_EQ(repeated.kind, OptionsResult::Run) << repeated.error;
    EXPECT_EQ(repeated.options.chatPort, 6);
    const auto defaults = parseServerOptions({});
    ASSERT_EQ(defaults.kind, OptionsResult::Run) << defaults.error;
    EXPECT_EQ(defaults.options.host, "127.0.0.1");
    EXPECT_EQ(defaults.options.chatPort, 9000);
    EXPECT_EQ(defaults.options.httpPort, 9001);
    EXPECT_EQ(defaults.options.dataDir, defaultDataDir());
    EXPECT_EQ(defaults.options.maxUploadBytes, 1024ull * 1024 * 1024);
    EXPECT_EQ(defaults.options.idleSeconds, 90);
    EXPECT_TRUE(defaults.options.httpHosts.empty());
    EXPECT_EQ(defaults.options.downloadIdleSeconds, 60);
    EXPECT_EQ(defaults.options.uploadExpirySeconds, 300);
    EXPECT_EQ(defaults.options.maxPendingUploads, 16);
    const auto http = parseServerOptions({"--http-host", "a.example", "--http-host=b.example",
                                          "--download-idle-timeout", "5", "--upload-expiry", "7",
                                          "--max-pending-uploads", "2"});
    ASSERT_EQ(http.kind, OptionsResult::Run) << http.error;
    EXPECT_EQ(http.options.httpHosts, (std::vector<std::string>{"a.example", "b.example"}));
    EXPECT_EQ(http.options.downloadIdleSeconds, 5);
    EXPECT_EQ(http.options.uploadExpirySeconds, 7);
    EXPECT_EQ(http.options.maxPendingUploads, 2);
    EXPECT_EQ(defaults.options.natsUrl, "");
    const auto nats = parseServerOptions({"--nats", "nats://a:4222,nats://b:4222"});
    ASSERT_EQ(nats.kind, OptionsResult::Run) << nats.error;
    EXPECT_EQ(nats.options.natsUrl, "nats://a:4222,nats://b:4222");
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--chat-port", "65536"},
                                               {"--http-port", "-1"},
                                               {"--chat-port"},
                                               {"--max-upload-bytes", "1e9"},
                                               {"--frobnicate"},
                                               {"--data-dir", ""},
                                               {"--idle-timeout", "0"},
                                               {"--http-host", ""},
                                               {"--download-idle-timeout", "0"},
                                               {"--upload-expiry", "-5"},
                                               {"--max-pending-uploads", "0"},
                                               {"--host="},
                                               {"--nats", ""},
                                               {"--nats", "nats://a:4222,"},
                                               {"--nats", "not a url"},
                                               {"somewhere"},
                                               {"--chat", "5"}})
        EXPECT_EQ(parseServerOptions(bad).kind, OptionsResult::Error) << bad[0];
}

// A folder of its own under /tmp, removed afterwards.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/brindlewick-options-XXXXXX";
        if (mkdtemp(pattern))
            path = pattern;
    }
    ~TempDir() {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string write(const std::string& name, const std::string& text) const {
        const std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    std::string path;
};

// Sets environment variables for one test and puts the earlier values back.
class ScopedEnvironment {
public:
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void set(const std::string& name, const std::string& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        setenv(name.c_str(), value.c_str(), 1);
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// Every layer sets something the others do not, and each pair overlaps once.
TEST(ServerOptions, CommandLineThenEnvironmentThenFile) {
    TempDir dir;
    const std::string file = dir.write("server.conf", "# a comment\n"
                                                      "\n"
                                                      "host = 10.0.0.1   # trailing comment\n"
                                                      "chat-port = 1000\n"
                                                      "http-port = 1001\n"
                                                      "data-dir = /from/file\n"
                                                      "idle-timeout = 5\n"
                                                      "idle-timeout = 6\n");
    ScopedEnvironment environment;
    environment.set("BRINDLEWICK_HTTP_PORT", "2001");
    environment.set("BRINDLEWICK_MAX_UPLOAD_BYTES", "77");
    const OptionsResult parsed =
        parseServerOptions({"--chat-port", "3000", "--config", file, "--max-upload-bytes", "88"});
    ASSERT_EQ(parsed.kind, OptionsResult::Run) << parsed.error;
    EXPECT_EQ(parsed.options.host, "10.0.0.1");
    EXPECT_EQ(parsed.options.chatPort, 3000);      // command line over file
    EXPECT_EQ(parsed.options.httpPort, 2001);      // environment over file
    EXPECT_EQ(parsed.options.maxUploadBytes, 88u); // command line over environment
    EXPECT_EQ(parsed.options.dataDir, "/from/file");
    EXPECT_EQ(parsed.options.idleSeconds, 6); // the last of a repeated key

    // Port 0 from the file, as on the command line; a byte order mark is no part of a name.
    const OptionsResult zero =
        parseServerOptions({"--config", dir.write("zero.conf", "\xEF\xBB\xBF"
                                                               "chat-port = 0\n")});
    ASSERT_EQ(zero.kind, OptionsResult::Run) << zero.error;
    EXPECT_EQ(zero.options.chatPort, 0);
}

TEST(ServerOptions, FileMistakesNameFileAndLine) {
    struct Case {
        const char* content;
        const char* where; // ":LINE:"
        const char* names;
    };
    const Case cases[] = {
        {"# settings\n\nchat-port = 5\nfrobnicate = 1\n", ":4:", "frobnicate"},
        {"host = a\n# note\n\nchat-port = 70000\n", ":4:", "chat-port"},
        {"chat-port = 5\nidle-timeout = 0\n", ":2:", "idle-timeout"},
        {"http-port = -1\n", ":1:", "http-port"},
        {"host =\n", ":1:", "host"},
        {"chat-port = 5\nchat-port 6\n", ":2:", "chat-port 6"},
        {"[server]\nhost = a\n", ":1:", "[server]"},
        {"config = other.conf\n", ":1:", "config"},
        {"host = a\r\nmax-upload-bytes = 1e9\r\n", ":2:", "max-upload-bytes"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string file = dir.write("bad.conf", c.content);
        const OptionsResult parsed = parseServerOptions({"--config", file});
        EXPECT_EQ(parsed.kind, OptionsResult::Error) << c.content;
        EXPECT_EQ(parsed.error.rfind(file + c.where, 0), 0u) << c.content << parsed.error;
        EXPECT_NE(parsed.error.find(c.names), std::string::npos) << c.content << parsed.error;
    }
}

TEST(ServerOptions, UnreadableFileIsAnError) {
    TempDir dir;
    for (const std::string& path : {dir.path + "/missing.conf", dir.path}) {
        const OptionsResult parsed = parseServerOptions({"--config", path});
        EXPECT_EQ(parsed.kind, OptionsResult::Error) << path;
        EXPECT_NE(parsed.error.find(path), std::string::npos) << parsed.error;
    }
    EXPECT_EQ(parseServerOptions({"--config", ""}).kind, OptionsResult::Error);
}

TEST(ServerOptions, EnvironmentMistakesNameTheVariable) {
    for (const auto& [variable, value] :
         std::vector<std::pair<std::string, std::string>>{{"BRINDLEWICK_CHAT_PORT", "x"},
                                                          {"BRINDLEWICK_HOST", ""},
                                                          {"BRINDLEWICK_IDLE_TIMEOUT", "86401"}}) {
        ScopedEnvironment environment;
        environment.set(variable, value);
        const OptionsResult parsed = parseServerOptions({});
        EXPECT_EQ(parsed.kind, OptionsResult::Error) << variable;
        EXPECT_NE(parsed.error.find(variable), std::string::npos) << parsed.error;
    }
    // Other variables of the prefix belong to other tools, and names are upper case only.
    ScopedEnvironment environment;
    environment.set("BRINDLEWICK_BUILD_DIR", "elsewhere");
    environment.set("BRINDLEWICK_chat_port", "x");
    environment.set("BRINDLEWICK_CONFIG", "/nowhere");
    EXPECT_EQ(parseServerOptions({}).kind, OptionsResult::Run);
}

// A list setting comes whole from the first layer that has it.
TEST(ServerOptions, HostNamesRepeatInAFileAndTheCommandLineReplacesThem) {
    TempDir dir;
    const std::string file =
        dir.write("hosts.conf", "http-host = a.example\nhttp-host = b.example\n");
    const auto fromFile = parseServerOptions({"--config", file});
    ASSERT_EQ(fromFile.kind, OptionsResult::Run) << fromFile.error;
    EXPECT_EQ(fromFile.options.httpHosts, (std::vector<std::string>{"a.example", "b.example"}));
    const auto fromLine = parseServerOptions({"--config", file, "--http-host", "c.example"});
    ASSERT_EQ(fromLine.kind, OptionsResult::Run) << fromLine.error;
    EXPECT_EQ(fromLine.options.httpHosts, (std::vector<std::string>{"c.example"}));
}

// The installed sample shows every setting the help lists, and at its real default.
TEST(ServerOptions, SampleFileShowsEverySettingAtItsDefault) {
    std::set<std::string> listed;
    const std::string usage = serverUsage();
    const std::string marker = "\n  --";
    for (std::size_t at = usage.find(marker, usage.find("Settings")); at != std::string::npos;
         at = usage.find(marker, at + 1)) {
        const std::size_t name = at + marker.size();
        listed.insert(usage.substr(name, usage.find(' ', name) - name));
    }

    std::ifstream sample(BRINDLEWICK_SAMPLE_CONFIG);
    ASSERT_TRUE(sample);
    std::ostringstream uncommented;
    std::set<std::string> shown;
    std::string line;
    while (std::getline(sample, line)) {
        // "#name = value" shows a setting; prose comments start with "# ".
        const std::size_t equals = line.find(" = ");
        if (line.size() < 2 || line[0] != '#' || !std::islower(line[1]) ||
            equals == std::string::npos)
            continue;
        uncommented << line.substr(1) << "\n";
        shown.insert(line.substr(1, equals - 1));
    }
    EXPECT_EQ(shown, listed);
    EXPECT_TRUE(listed.count("host") && listed.count("idle-timeout")); // the help was read

    TempDir dir;
    const OptionsResult parsed =
        parseServerOptions({"--config", dir.write("sample.conf", uncommented.str())});
    ASSERT_EQ(parsed.kind, OptionsResult::Run) << parsed.error;
    const ServerOptions defaults;
    EXPECT_EQ(parsed.options.host, defaults.host);
    EXPECT_EQ(parsed.options.chatPort, defaults.chatPort);
    EXPECT_EQ(parsed.options.httpPort, defaults.httpPort);
    EXPECT_EQ(parsed.options.maxUploadBytes, defaults.maxUploadBytes);
    EXPECT_EQ(parsed.options.idleSeconds, defaults.idleSeconds);
    EXPECT_EQ(parsed.options.downloadIdleSeconds, defaults.downloadIdleSeconds);
    EXPECT_EQ(parsed.options.uploadExpirySeconds, defaults.uploadExpirySeconds);
    EXPECT_EQ(parsed.options.maxPendingUploads, defaults.maxPendingUploads);
    EXPECT_EQ(parsed.options.authSeconds, defaults.authSeconds);
    EXPECT_EQ(parsed.options.maxConnections, defaults.maxConnections);
    EXPECT_EQ(parsed.options.maxConnectionsPerAddress, defaults.maxConnectionsPerAddress);
    EXPECT_EQ(parsed.options.maxRoomMembers, defaults.maxRoomMembers);
    EXPECT_EQ(parsed.options.claimPhones, defaults.claimPhones);
}

using Exit = brindlewick::test::CommandExit;

Exit runServer(const std::vector<std::string>& args) {
    return brindlewick::test::runServerCommand(args);
}

TEST(ServerOptions, HelpAndVersionExitWithZero) {
    const Exit help = runServer({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* text : {"--config FILE", "--chat-port N (=9000)", "--data-dir DIR",
                             "--idle-timeout", "--max-upload-bytes", "BRINDLEWICK_"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text << "\n" << help.out;
    const Exit version = runServer({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "brindlewick-server " BRINDLEWICK_VERSION "\n");
}

TEST(ServerOptions, BadFileExitsWithTwoNamingTheLine) {
    TempDir dir;
    const std::string file = dir.write("bad.conf", "host = 127.0.0.1\nchat_port = 9000\n");
    const Exit bad = runServer({"--config", file});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find(file + ":2: unknown key 'chat_port'"), std::string::npos) << bad.err;
}

TEST(ServerOptions, BadOptionAndBusyPortExitWithTwo) {
    EXPECT_EQ(runServer({"--no-such-option"}).status, 2);
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
                         "--data-dir", dir})
                  .status,
              2);
    close(fd);
    std::system((std::string("rm -rf ") + dir).c_str());
}

// A TLS setting that cannot work stops the start with a message, before any port opens.
TEST(ServerOptions, BadTlsFilesStopTheStart) {
    const brindlewick::test::TestCertificates& certs = brindlewick::test::testCertificates();
    ASSERT_EQ(certs.error, "");
    TempDir dir;
    const std::string missing = dir.path + "/missing.pem";
    const std::string garbage = dir.write("garbage.pem", "not a certificate\n");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--tls-cert", certs.certFile}, "--tls-cert needs --tls-key"},
        {{"--tls-key", certs.keyFile}, "--tls-key needs --tls-cert"},
        {{"--tls-cert", missing, "--tls-key", certs.keyFile}, "TLS certificate " + missing},
        {{"--tls-cert", garbage, "--tls-key", certs.keyFile}, "TLS certificate " + garbage},
        {{"--tls-cert", certs.certFile, "--tls-key", missing}, "TLS key " + missing},
        {{"--tls-cert", certs.certFile, "--tls-key", certs.certFile}, "TLS key " + certs.certFile},
        {{"--tls-cert", certs.certFile, "--tls-key", certs.otherKeyFile},
         "does not belong to the certificate"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--chat-port", "0",          "--http-port",
                                         "0",           "--data-dir", dir.path + "/data"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Exit exit = runServer(args);
        EXPECT_EQ(exit.status, 2) << c.message;
        EXPECT_NE(exit.err.find(c.message), std::string::npos) << exit.err;
        EXPECT_EQ(exit.out, "") << c.message; // no ports announced
    }
    const Exit good = runServer({"--tls-cert", certs.certFile, "--tls-key", certs.keyFile,
                                 "--chat-port", "0", "--http-port", "0", "--help"});
    EXPECT_EQ(good.status, 0);
    EXPECT_NE(good.out.find("--tls-cert FILE"), std::string::npos);
}

// The claim is a setting like the others; freeing one is a command of the command line only,
// so a leftover variable or settings line cannot free claims at every start.
TEST(ServerOptions, ClaimPhonesIsASettingAndReleasePhoneACommand) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> environment;
        OptionsResult::Kind kind;
        bool claimPhones;
        std::string phone;
    };
    const std::vector<Case> cases = {
        {"default", {}, {}, OptionsResult::Run, false, ""},
        {"bare switch", {"--claim-phones"}, {}, OptionsResult::Run, true, ""},
        {"switched off", {"--claim-phones=false"}, {}, OptionsResult::Run, false, ""},
        {"environment", {}, {{"BRINDLEWICK_CLAIM_PHONES", "1"}}, OptionsResult::Run, true, ""},
        {"command line wins",
         {"--claim-phones=no"},
         {{"BRINDLEWICK_CLAIM_PHONES", "true"}},
         OptionsResult::Run,
         false,
         ""},
        {"settings file",
         {"--config", dir.write("claims.conf", "claim-phones = true\n")},
         {},
         OptionsResult::Run,
         true,
         ""},
        {"not a truth value", {"--claim-phones=maybe"}, {}, OptionsResult::Error, false, ""},
        {"release",
         {"--release-phone", "010-1234"},
         {},
         OptionsResult::ReleasePhone,
         false,
         "010-1234"},
        {"release of nothing", {"--release-phone="}, {}, OptionsResult::Error, false, ""},
        {"release from the environment is no command",
         {},
         {{"BRINDLEWICK_RELEASE_PHONE", "010"}},
         OptionsResult::Run,
         false,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment environment;
        for (const auto& [name, value] : c.environment)
            environment.set(name, value);
        const OptionsResult parsed = parseServerOptions(c.args);
        ASSERT_EQ(parsed.kind, c.kind) << parsed.error;
        if (c.kind == OptionsResult::Error)
            continue;
        EXPECT_EQ(parsed.options.claimPhones, c.claimPhones);
        EXPECT_EQ(parsed.phone, c.phone);
    }
    EXPECT_EQ(
        parseServerOptions({"--config", dir.write("release.conf", "release-phone = 010\n")}).kind,
        OptionsResult::Error);
}
