#include "command_line.h"

namespace brindlewick {

namespace {

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
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            result.kind = CommandLine::Help;
            return result;
        }
        QString name = argument;
        QString value;
        bool hasValue = false;
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 2) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            hasValue = true;
        }
        if (name != QLatin1String("--server") && name != QLatin1String("--chat-port") &&
            name != QLatin1String("--http-port"))
            return fail(QStringLiteral("unknown option '%1'").arg(argument));
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("option '%1' needs a value").arg(name));
            value = arguments.at(++i);
        }
        if (name == QLatin1String("--server")) {
            if (value.trimmed().isEmpty())
                return fail(QStringLiteral("option '--server' needs a host name or address"));
            result.config.host = value.trimmed().toStdString();
        } else {
            std::uint16_t& port = name == QLatin1String("--chat-port") ? result.config.chatPort
                                                                       : result.config.httpPort;
            if (!parsePort(value, port))
                return fail(QStringLiteral("option '%1' needs a port from 1 to 65535, not '%2'")
                                .arg(name, value));
        }
    }
    return result;
}

QString commandLineUsage() {
    return QStringLiteral("Usage: brindlewick [--server HOST] [--chat-port N] [--http-port N]\n"
                          "\n"
                          "Desktop chat client.\n"
                          "\n"
                          "  --server HOST     chat server host (default 127.0.0.1)\n"
                          "  --chat-port N     chat connection port (default 9000)\n"
                          "  --http-port N     HTTP API port (default 9001)\n"
                          "  -h, --help        show this help and exit\n"
                          "\n"
                          "The sign-in is remembered in the user's configuration folder\n"
                          "($XDG_CONFIG_HOME/Brindlewick, usually ~/.config/Brindlewick); point\n"
                          "XDG_CONFIG_HOME elsewhere to run a second user on the same desktop.\n");
}

} // namespace brindlewick
