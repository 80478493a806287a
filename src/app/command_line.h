#pragma once
// brindlewick [--server HOST] [--chat-port N] [--http-port N] [--tls] [--ca FILE], through
// QCommandLineParser, plus the options every Qt application takes (-platform, -style, ...).

#include "server_config.h"

#include <QString>
#include <QStringList>

class QSettings;

namespace brindlewick {

struct CommandLine {
    // Version, Help and HelpAll in the order QCommandLineParser::process() answers them.
    enum Kind { Run, Version, Help, HelpAll, Error } kind = Run;
    ServerConfig config;
    QString error; // for Error: what was wrong, in one line
};

// `arguments` as QCoreApplication::arguments() gives them: the program first.
CommandLine parseCommandLine(const QStringList& arguments);
// The arguments less Qt's own options (-platform xcb, -style=Fusion, --reverse, ...) as
// QApplication would take them out, so a mistake is told before there is a display to need.
QStringList withoutQtOptions(const QStringList& arguments);
// The user's settings "tls" (true/false) and "ca" (a file), under what the command line said.
void applyConnectionSettings(QSettings& settings, ServerConfig& config);
// Generated from the options; the usage line names the running program when there is an
// application object.
QString commandLineHelp();
QString commandLineVersion();
// Prints the help with Qt's own options (those of the running application object) and exits.
[[noreturn]] void showHelpWithQtOptions();

} // namespace brindlewick
