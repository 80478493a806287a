#include "app_main.h"

#include "app_delegate.h"
#include "command_line.h"
#include "qt_platform.h"
#include "qt_translations.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

namespace brindlewick {

int runBrindlewick(int argc, char** argv, const std::function<void(AppDelegate&)>& afterLaunch) {
    // Read before the application object exists, so --help and mistakes need no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.kind == CommandLine::Help) {
        std::fputs(commandLineUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (commandLine.kind == CommandLine::Error) {
        std::fprintf(stderr, "brindlewick: %s\nTry 'brindlewick --help' for more information.\n",
                     commandLine.error.toLocal8Bit().constData());
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Brindlewick"));
    // The installed .desktop file's name: Wayland's app id, and how docks find the icon.
    QApplication::setDesktopFileName(QStringLiteral("org.brindlewick.Brindlewick"));
    QApplication::setApplicationName(QStringLiteral("Brindlewick"));
    installQtTranslations(app);
    {
        AppDelegate delegate(commandLine.config, std::make_unique<QtPlatform>());
        delegate.applicationDidFinishLaunching();
        if (afterLaunch)
            afterLaunch(delegate);
        QApplication::exec();
    }
    return 0;
}

} // namespace brindlewick
