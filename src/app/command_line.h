#pragma once
// brindlewick [--server HOST] [--chat-port N] [--http-port N]

#include "server_config.h"

#include <QString>
#include <QStringList>

namespace brindlewick {

struct CommandLine {
    enum Kind { Run, Help, Error } kind = Run;
    ServerConfig config;
    QString error; // for Error: what was wrong, in one line
};

// `arguments` without the program name.
CommandLine parseCommandLine(const QStringList& arguments);
QString commandLineUsage();

} // namespace brindlewick
