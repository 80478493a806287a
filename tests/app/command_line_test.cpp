#include "command_line.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace brindlewick;

namespace {

struct Case {
    const char* name;
    QStringList arguments;
    CommandLine::Kind kind;
    std::string host = "127.0.0.1";
    std::uint16_t chatPort = 9000;
    std::uint16_t httpPort = 9001;
};

class CommandLineCases : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineCases, Parses) {
    const Case& c = GetParam();
    const CommandLine result = parseCommandLine(c.arguments);
    EXPECT_EQ(result.kind, c.kind) << result.error.toStdString();
    if (c.kind == CommandLine::Error) {
        EXPECT_FALSE(result.error.isEmpty());
    }
    if (c.kind != CommandLine::Run)
        return;
    EXPECT_EQ(result.config.host, c.host);
    EXPECT_EQ(result.config.chatPort, c.chatPort);
    EXPECT_EQ(result.config.httpPort, c.httpPort);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineCases,
    ::testing::Values(Case{"defaults", {}, CommandLine::Run},
                      Case{"all_separate",
                           {"--server", "chat.example", "--chat-port", "19000", "--http-port",
                            "19001"},
                           CommandLine::Run,
                           "chat.example",
                           19000,
                           19001},
                      Case{"with_equals",
                           {"--server=10.1.2.3", "--chat-port=1", "--http-port=65535"},
                           CommandLine::Run,
                           "10.1.2.3",
                           1,
                           65535},
                      Case{"last_one_wins",
                           {"--chat-port", "5", "--chat-port", "6"},
                           CommandLine::Run,
                           "127.0.0.1",
                           6},
                      Case{"help", {"--help"}, CommandLine::Help},
                      Case{"short_help", {"--chat-port", "5", "-h"}, CommandLine::Help},
                      Case{"unknown_option", {"--verbose"}, CommandLine::Error},
                      Case{"positional", {"somewhere"}, CommandLine::Error},
                      Case{"missing_value", {"--http-port"}, CommandLine::Error},
                      Case{"port_zero", {"--chat-port", "0"}, CommandLine::Error},
                      Case{"port_too_big", {"--chat-port", "65536"}, CommandLine::Error},
                      Case{"port_not_a_number", {"--http-port", "http"}, CommandLine::Error},
                      Case{"port_with_sign", {"--http-port", "+80"}, CommandLine::Error},
                      Case{"port_with_space", {"--http-port", " 80"}, CommandLine::Error},
                      Case{"empty_host", {"--server", ""}, CommandLine::Error},
                      Case{"error_before_help", {"--nope", "--help"}, CommandLine::Error}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The program itself: usage on --help, status 2 and a message naming the option otherwise.
TEST(ClientProgram, HelpAndBadOptions) {
    QProcess help;
    help.start(QStringLiteral(BRINDLEWICK_CLIENT_PATH), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(30000));
    EXPECT_EQ(help.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--chat-port"));

    QProcess bad;
    bad.start(QStringLiteral(BRINDLEWICK_CLIENT_PATH),
              {QStringLiteral("--chat-port"), QStringLiteral("99999")});
    ASSERT_TRUE(bad.waitForFinished(30000));
    EXPECT_EQ(bad.exitCode(), 2);
    const QByteArray error = bad.readAllStandardError();
    EXPECT_TRUE(error.contains("--chat-port")) << error.toStdString();
    EXPECT_TRUE(error.contains("99999")) << error.toStdString();
}

} // namespace
