#include "app_main.h"

#include "app_delegate.h"
#include "brindlewick_version.h"
#include "command_line.h"
#include "qt_platform.h"
#include "qt_translations.h"
#include "single_instance.h"
#include "stored_sign_in.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

namespace brindlewick {

namespace {

// Prints what a command line other than Run asks for; the exit status.
int answer(const CommandLine& commandLine) {
    switch (commandLine.kind) {
    case CommandLine::Version:
        std::fputs(commandLineVersion().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Help:
        std::fputs(commandLineHelp().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::HelpAll:
        showHelpWithQtOptions();
    case CommandLine::Error:
    case CommandLine::Run:
        break;
    }
    std::fprintf(stderr, "brindlewick: %s\nTry 'brindlewick --help' for more information.\n",
                 commandLine.error.toLocal8Bit().constData());
    return 2;
}

} // namespace

int runBrindlewick(int argc, char** argv, const std::function<void(AppDelegate&)>& afterLaunch) {
    {
        // Settled before the application object, so --help, --version and mistakes need no
        // display: Qt's own options are set aside as QApplication would take them. The help
        // with Qt's options needs the application object that owns them.
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        const CommandLine early = parseCommandLine(withoutQtOptions(arguments));
        if (early.kind != CommandLine::Run && early.kind != CommandLine::HelpAll) {
            QCoreApplication core(argc, argv); // names the program in the help's usage line
            return answer(early);
        }
    }

    // Takes Qt's own options (-platform, -style, ...) out of the arguments.
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Brindlewick"));
    // The installed .desktop file's name: Wayland's app id, and how docks find the icon.
    QApplication::setDesktopFileName(QStringLiteral("org.brindlewick.Brindlewick"));
    QApplication::setApplicationName(QStringLiteral("Brindlewick"));
    QApplication::setApplicationVersion(QStringLiteral(BRINDLEWICK_VERSION));
    const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
    if (commandLine.kind != CommandLine::Run)
        return answer(commandLine);

    // A second start brings the running client forward instead of signing in again.
    SingleInstance instance(openUserSettings()->fileName());
    if (!instance.claim())
        return 0;
    installQtTranslations(app);
    {
        ServerConfig config = commandLine.config;
        applyConnectionSettings(*openUserSettings(), config);
        AppDelegate delegate(config, std::make_unique<QtPlatform>());
        QObject::connect(&instance, &SingleInstance::raiseRequested, &delegate,
                         &AppDelegate::bringToFront);
        delegate.applicationDidFinishLaunching();
        if (afterLaunch)
            afterLaunch(delegate);
        QApplication::exec();
    }
    return 0;
}

} // namespace brindlewick
