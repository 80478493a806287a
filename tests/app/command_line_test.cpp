#include "brindlewick_version.h"
#include "command_line.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
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
    bool tls = false;
};

class CommandLineCases : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineCases, Parses) {
    const Case& c = GetParam();
    const CommandLine result =
        parseCommandLine(QStringList{QStringLiteral("brindlewick")} + c.arguments);
    EXPECT_EQ(result.kind, c.kind) << result.error.toStdString();
    if (c.kind == CommandLine::Error) {
        EXPECT_FALSE(result.error.isEmpty());
    }
    if (c.kind != CommandLine::Run)
        return;
    EXPECT_EQ(result.config.host, c.host);
    EXPECT_EQ(result.config.chatPort, c.chatPort);
    EXPECT_EQ(result.config.httpPort, c.httpPort);
    EXPECT_EQ(result.config.tls, c.tls);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineCases,
    ::testing::Values(
        Case{"defaults", {}, CommandLine::Run},
        Case{"all_separate",
             {"--server", "chat.example", "--chat-port", "19000", "--http-port", "19001"},
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
        Case{"error_before_help", {"--nope", "--help"}, CommandLine::Error},
        Case{"version", {"--version"}, CommandLine::Version},
        Case{"short_version", {"-v"}, CommandLine::Version},
        Case{"version_before_help", {"--help", "--version"}, CommandLine::Version},
        Case{"help_with_qt_options", {"--help-all"}, CommandLine::HelpAll},
        Case{"host_trimmed", {"--server", " chat.example "}, CommandLine::Run, "chat.example"},
        Case{"qt_option_left_in", {"-platform", "offscreen"}, CommandLine::Error},
        Case{"single_dash_words",
             {"-server", "chat.example", "-chat-port=5"},
             CommandLine::Run,
             "chat.example",
             5},
        Case{"tls", {"--tls"}, CommandLine::Run, "127.0.0.1", 9000, 9001, true},
        Case{"tls_with_ports",
             {"-tls", "--chat-port", "9443"},
             CommandLine::Run,
             "127.0.0.1",
             9443,
             9001,
             true},
        Case{"tls_takes_no_value", {"--tls=yes"}, CommandLine::Error},
        Case{"ca_without_file", {"--ca"}, CommandLine::Error},
        Case{"ca_missing_file", {"--ca", "/nonexistent/ca.pem"}, CommandLine::Error},
        Case{"ca_is_a_folder", {"--ca", "/tmp"}, CommandLine::Error}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// --ca turns TLS on; the settings file's "tls" and "ca" apply under what the command line says.
TEST(CommandLine, TlsFromTheCommandLineAndTheSettings) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ca = dir.filePath(QStringLiteral("ca.pem"));
    QFile file(ca);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("-----BEGIN CERTIFICATE-----\n");
    file.close();
    struct Row {
        const char* name;
        QStringList arguments;
        QString settings; // the settings file's text
        bool tls;
        QString caFile;
    };
    const Row rows[] = {
        {"nothing", {}, "", false, ""},
        {"--tls", {"--tls"}, "", true, ""},
        {"--ca", {"--ca", ca}, "", true, ca},
        {"tls=true", {}, "tls=true\n", true, ""},
        {"tls=false", {}, "tls=false\n", false, ""},
        {"tls=false does not undo --tls", {"--tls"}, "tls=false\n", true, ""},
        {"ca= in the settings", {}, "ca=/etc/private-ca.pem\n", true, "/etc/private-ca.pem"},
        {"--ca wins over ca=", {"--ca", ca}, "ca=/etc/private-ca.pem\n", true, ca},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(QStringLiteral("settings.conf"));
        QFile settingsFile(path);
        ASSERT_TRUE(settingsFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        settingsFile.write(row.settings.toUtf8());
        settingsFile.close();
        QSettings settings(path, QSettings::IniFormat);
        const CommandLine parsed =
            parseCommandLine(QStringList{QStringLiteral("brindlewick")} + row.arguments);
        ASSERT_EQ(parsed.kind, CommandLine::Run) << parsed.error.toStdString();
        ServerConfig config = parsed.config;
        applyConnectionSettings(settings, config);
        EXPECT_EQ(config.tls, row.tls);
        EXPECT_EQ(QString::fromStdString(config.caFile), row.caFile);
    }
    const QString help = commandLineHelp();
    EXPECT_TRUE(help.contains(QStringLiteral("--tls")) &&
                help.contains(QStringLiteral("--ca <FILE>")))
        << help.toStdString();
}

// Qt's own options are set aside as QApplication takes them, values included; everything else
// stays for the client's parser to judge.
TEST(CommandLine, QtOptionsAreSetAside) {
    const std::pair<QStringList, QStringList> cases[] = {
        {{"--bogus"}, {"--bogus"}},
        {{"somewhere"}, {"somewhere"}},
        {{"-platform", "offscreen"}, {}},
        {{"--platform", "offscreen", "--chat-port", "5"}, {"--chat-port", "5"}},
        {{"--style=Fusion", "-reverse", "--bogus"}, {"--bogus"}},
        {{"-style", "Fusion", "-stylesheet=a.qss", "-widgetcount"}, {}},
        {{"-display", ":9", "-name", "bw", "-nograb", "--tls"}, {"--tls"}},
        {{"-qmljsdebugger=port:1234", "--server", "h"}, {"--server", "h"}},
        // A Qt option without its value is left for the parser to refuse.
        {{"--http-port", "1", "-platform"}, {"--http-port", "1", "-platform"}},
        // Only whole option names: "-platformx" is no option of Qt's.
        {{"-platformx", "y"}, {"-platformx", "y"}},
    };
    for (const auto& [arguments, kept] : cases) {
        const QStringList program{QStringLiteral("brindlewick")};
        EXPECT_EQ(withoutQtOptions(program + arguments), program + kept)
            << arguments.join(' ').toStdString();
    }
}

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The client as a user starts it on a machine without any display: nothing tells Qt which
// platform to use unless the arguments do.
Finished runWithoutDisplay(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRINDLEWICK_CLIENT_PATH), arguments);
    Finished run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

TEST(ClientProgram, HelpVersionAndMistakesNeedNoDisplay) {
    const Finished help = runWithoutDisplay({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    for (const char* text : {"--server <HOST>", "--chat-port <N>", "--http-port <N>", "--version",
                             "XDG_CONFIG_HOME", "Usage: "})
        EXPECT_TRUE(help.out.contains(text)) << text << "\n" << help.out.toStdString();

    const Finished version = runWithoutDisplay({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, QByteArray("brindlewick " BRINDLEWICK_VERSION "\n"));

    const Finished bad = runWithoutDisplay({QStringLiteral("--http-port=0")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains("--http-port")) << bad.err.toStdString();

    // Options nobody knows, beside Qt's own or not, are told without a display too.
    const struct {
        QStringList arguments;
        const char* named;
    } unknown[] = {
        {{"--bogus"}, "bogus"},
        {{"somewhere"}, "somewhere"},
        {{"-style", "Fusion", "--bogus"}, "bogus"},
        {{"--reverse", "--server", "h", "-x"}, "'x'"},
    };
    for (const auto& u : unknown) {
        const Finished run = runWithoutDisplay(u.arguments);
        EXPECT_EQ(run.exitCode, 2) << u.arguments.join(' ').toStdString() << "\n"
                                   << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(u.named)) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("--help")) << run.err.toStdString();
    }
}

// Qt's own options reach QApplication, which takes them out before the client's parser looks.
TEST(ClientProgram, TakesQtOptions) {
    const Finished badPort =
        runWithoutDisplay({"-platform", "offscreen", "-style", "Fusion", "--chat-port", "99999"});
    EXPECT_EQ(badPort.exitCode, 2);
    EXPECT_TRUE(badPort.err.contains("--chat-port")) << badPort.err.toStdString();
    EXPECT_FALSE(badPort.err.contains("platform")) << badPort.err.toStdString();

    const Finished unknown = runWithoutDisplay({"-platform", "offscreen", "-verbose"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains("'verbose'")) << unknown.err.toStdString();

    const Finished helpAll = runWithoutDisplay({"-platform", "offscreen", "--help-all"});
    EXPECT_EQ(helpAll.exitCode, 0) << helpAll.err.toStdString();
    for (const char* text : {"--chat-port <N>", "--platform", "--reverse"})
        EXPECT_TRUE(helpAll.out.contains(text)) << text << "\n" << helpAll.out.toStdString();
}

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
