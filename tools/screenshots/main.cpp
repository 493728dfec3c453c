// Writes PNGs of the real widgets (offscreen) for a generated sample folder:
//   kelvane-screenshots [--scale N] <output folder> [scene name filter...]
// --scale 2 renders at device pixel ratio 2 (a HiDPI screen): every PNG has
// twice the pixels, which is where blurry icons, text or thumbnails show.
#include "SampleFolder.h"
#include "ScreenshotScene.h"
#include "app/QtTranslations.h"
#include "common/Theme.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <map>
#include <string>

static std::map<std::string, ScreenshotSceneFunction> &scenes()
{
    static std::map<std::string, ScreenshotSceneFunction> registry;
    return registry;
}

int registerScreenshotScene(const char *name, ScreenshotSceneFunction function)
{
    scenes()[name] = std::move(function);
    return int(scenes().size());
}

void ScreenshotContext::settle(int ms) const
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void ScreenshotContext::save(QWidget *widget, const QString &name) const
{
    save(widget->grab().toImage(), name);
}

void ScreenshotContext::save(const QImage &image, const QString &name) const
{
    const QString path = outputDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!image.save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("wrote %s\n", qPrintable(path));
}

// Takes "--scale N" out of the arguments; it must be known before the
// application object exists.
static QByteArray takeScaleArgument(int &argc, char *argv[])
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--scale") != 0)
            continue;
        const QByteArray scale = argv[i + 1];
        for (int j = i; j + 2 <= argc; ++j)
            argv[j] = argv[j + 2];
        argc -= 2;
        return scale;
    }
    return {};
}

int main(int argc, char *argv[])
{
    const QByteArray scale = takeScaleArgument(argc, argv);
    if (!scale.isEmpty()) {
        qputenv("QT_SCALE_FACTOR", scale);
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "1");
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    Theme::applyToApplication(app);
    const QtTranslations qtTranslations; // as the program itself: Qt's dialogs in Chinese
    // Keep the user's ratings and history out of the pictures.
    QStandardPaths::setTestModeEnabled(true);

    // Not app.arguments(): Qt may report the command line as it was started,
    // with "--scale N" still in it.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    ScreenshotContext context;
    context.outputDir = args.size() > 1 ? args[1] : QStringLiteral("build/screenshots");
    QDir().mkpath(context.outputDir);
    QTemporaryDir scratch;
    context.scratchDir = scratch.path();
    context.sampleFolder = writeSampleFolder(scratch.path());

    const QStringList filters = args.mid(2);
    for (auto &[name, scene] : scenes()) {
        const QString sceneName = QString::fromStdString(name);
        const bool wanted = filters.isEmpty() || std::any_of(filters.cbegin(), filters.cend(),
                                                             [&](const QString &filter) {
                                                                 return sceneName.contains(filter);
                                                             });
        if (wanted)
            scene(context);
    }
    return 0;
}
