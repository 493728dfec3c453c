#include "app/CommandLine.h"
#include "app/KelvaneApp.h"
#include "app/LaunchTarget.h"
#include "app/QtTranslations.h"
#include "app/QuitOnSignals.h"
#include "app/SingleInstance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// The command line is read, and a running Kelvane asked to take over, before
// any window system is touched: `kelvane --version` works without a display,
// and a second start never opens one.
std::optional<int> handledWithoutWindow(int argc, char *argv[], SingleInstance &instance,
                                        QString &startPath)
{
    QCoreApplication probe(argc, argv);
    const QtTranslations translations; // the help text's standard lines too
    const CommandLine commandLine(QCoreApplication::arguments(), QDir::currentPath());
    switch (commandLine.action()) {
    case CommandLine::Action::showHelp:
    case CommandLine::Action::showVersion:
        std::fputs(qPrintable(commandLine.output()), stdout);
        return 0;
    case CommandLine::Action::fail:
        std::fputs(qPrintable(commandLine.output()), stderr);
        return 1;
    case CommandLine::Action::start:
        break;
    }
    startPath = commandLine.path();
    // Said here as well as in the window, which may be another process's.
    if (!startPath.isEmpty()) {
        const LaunchTarget target = LaunchTarget::fromPath(startPath);
        if (!target.isValid())
            std::fprintf(stderr, "kelvane: %s\n", qPrintable(target.problem()));
    }
    if (instance.handOver(startPath) == SingleInstance::Role::secondary)
        return 0;
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    KelvaneApp::describeApplication();
    SingleInstance instance;
    QString startPath;
    if (const std::optional<int> exitCode = handledWithoutWindow(argc, argv, instance, startPath))
        return *exitCode;

    QApplication application(argc, argv);
    instance.listen(); // without it this window is simply not the one others find
    // Made before the window, so it outlives the final writes that end the run.
    const QuitOnSignals quitOnSignals;
    KelvaneApp kelvane(application);
    kelvane.takeRequestsFrom(instance);
    return kelvane.run(startPath);
}
