#include "command_line.h"

#include "brindlewick_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace brindlewick {

namespace {

const QString serverOption = QStringLiteral("server");
const QString chatPortOption = QStringLiteral("chat-port");
const QString httpPortOption = QStringLiteral("http-port");
const QString tlsOption = QStringLiteral("tls");
const QString caOption = QStringLiteral("ca");

void describe(QCommandLineParser& parser) {
    const ServerConfig defaults;
    parser.setApplicationDescription(
        QStringLiteral("Desktop chat client.\n"
                       "\n"
                       "The sign-in is remembered in the user's configuration folder\n"
                       "($XDG_CONFIG_HOME/Brindlewick, usually ~/.config/Brindlewick); point\n"
                       "XDG_CONFIG_HOME elsewhere to run a second user on the same desktop."));
    // "-name" is one option, not letters: the convention of Qt's own -platform and -style.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({serverOption,
                      QStringLiteral("Chat server host (default %1).")
                          .arg(QString::fromStdString(defaults.host)),
                      QStringLiteral("HOST")});
    parser.addOption(
        {chatPortOption,
         QStringLiteral("Chat connection port, 1 to 65535 (default %1).").arg(defaults.chatPort),
         QStringLiteral("N")});
    parser.addOption(
        {httpPortOption,
         QStringLiteral("HTTP API port, 1 to 65535 (default %1).").arg(defaults.httpPort),
         QStringLiteral("N")});
    parser.addOption(
        {tlsOption, QStringLiteral("Connect over TLS (https for the HTTP API), trusting the\n"
                                   "system's certificates; also tls=true in the settings file.")});
    parser.addOption({caOption,
                      QStringLiteral("Trust only the CA certificates in FILE (PEM), for a server\n"
                                     "with a private CA; implies --tls. Also ca=FILE in the\n"
                                     "settings file."),
                      QStringLiteral("FILE")});
}

bool parsePort(const QString& text, std::uint16_t& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    // toUInt accepts a leading "+" and spaces; a port is digits only.
    if (!ok || value == 0 || value > 65535 || text.isEmpty() || !text.at(0).isDigit() ||
        !text.back().isDigit())
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    auto fail = [&result](const QString& error) {
        result.kind = CommandLine::Error;
        result.error = error;
        return result;
    };
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'")
                        .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(QStringLiteral("version"))) {
        result.kind = CommandLine::Version;
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.kind = CommandLine::Help;
        return result;
    }
    if (parser.isSet(QStringLiteral("help-all"))) {
        result.kind = CommandLine::HelpAll;
        return result;
    }
    if (parser.isSet(serverOption)) {
        const QString host = parser.value(serverOption).trimmed();
        if (host.isEmpty())
            return fail(QStringLiteral("option '--server' needs a host name or address"));
        result.config.host = host.toStdString();
    }
    for (const QString& name : {chatPortOption, httpPortOption}) {
        if (!parser.isSet(name))
            continue;
        const QString value = parser.value(name);
        std::uint16_t& port =
            name == chatPortOption ? result.config.chatPort : result.config.httpPort;
        if (!parsePort(value, port))
            return fail(QStringLiteral("option '--%1' needs a port from 1 to 65535, not '%2'")
                            .arg(name, value));
    }
    if (parser.isSet(caOption)) {
        const QString file = parser.value(caOption);
        const QFileInfo info(file);
        if (file.isEmpty() || !info.isFile() || !info.isReadable())
            return fail(QStringLiteral("option '--ca' needs a readable file, not '%1'").arg(file));
        result.config.caFile = file.toStdString();
    }
    result.config.tls = parser.isSet(tlsOption) || parser.isSet(caOption);
    return result;
}

QStringList withoutQtOptions(const QStringList& arguments) {
    // Those of QGuiApplication, QApplication and the platform plugins, older X11 ones included:
    // taking out one Qt would leave only defers the verdict to the parse after QApplication.
    static const QStringList withValue = {"platform",
                                          "platformpluginpath",
                                          "platformtheme",
                                          "plugin",
                                          "qwindowgeometry",
                                          "qwindowicon",
                                          "qwindowtitle",
                                          "session",
                                          "display",
                                          "geometry",
                                          "title",
                                          "icon",
                                          "name",
                                          "visual",
                                          "style",
                                          "stylesheet",
                                          "dialogs",
                                          "ncols",
                                          "cmap",
                                          "im",
                                          "inputstyle",
                                          "fn",
                                          "font",
                                          "bg",
                                          "background",
                                          "fg",
                                          "foreground",
                                          "btn",
                                          "button",
                                          "graphicssystem"};
    static const QStringList flags = {"reverse", "widgetcount", "testability",
                                      "nograb",  "dograb",      "sync"};
    static const QStringList withEquals = {"style=", "stylesheet=", "qmljsdebugger="};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (i == 0 || !argument.startsWith(u'-')) {
            kept.append(argument);
            continue;
        }
        // Qt reads "--name" as "-name".
        const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        if (flags.contains(name))
            continue;
        if (withValue.contains(name) && i + 1 < arguments.size()) {
            ++i;
            continue;
        }
        const bool taken = std::any_of(withEquals.cbegin(), withEquals.cend(),
                                       [&name](const QString& p) { return name.startsWith(p); });
        if (!taken)
            kept.append(argument);
    }
    return kept;
}

void applyConnectionSettings(QSettings& settings, ServerConfig& config) {
    const QString ca = settings.value(QStringLiteral("ca")).toString();
    if (config.caFile.empty() && !ca.isEmpty())
        config.caFile = ca.toStdString();
    // "true", "1" and the like; a setting can turn TLS on, never off what the command line asked.
    if (settings.value(QStringLiteral("tls")).toBool() || !config.caFile.empty())
        config.tls = true;
}

QString commandLineHelp() {
    QCommandLineParser parser;
    describe(parser);
    return parser.helpText();
}

QString commandLineVersion() {
    return QStringLiteral("brindlewick " BRINDLEWICK_VERSION "\n");
}

void showHelpWithQtOptions() {
    QCommandLineParser parser;
    describe(parser);
    // Only process() lists the application object's own options; it prints and exits.
    parser.process(QCoreApplication::arguments());
    parser.showHelp(0);
}

} // namespace brindlewick
