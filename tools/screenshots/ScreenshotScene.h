#pragma once

#include <QImage>
#include <QString>
#include <functional>

class QWidget;

// A screen to photograph for `make screenshots`. Each area of the app adds its
// scenes in a file of its own with KELVANE_SCREENSHOT_SCENE; main.cpp runs them
// all (or those whose names contain the arguments after the output folder).
struct ScreenshotContext
{
    QString outputDir;
    // A generated folder tree of real photos (JPEG, PNG, a few sub-folders).
    QString sampleFolder;
    // Scratch space for anything a scene wants to write.
    QString scratchDir;

    // Lets queued work (scans, decodes, animations) finish for `ms` milliseconds.
    void settle(int ms) const;
    // Saves the widget (a top-level window, with its overlays) as <name>.png.
    void save(QWidget *widget, const QString &name) const;
    void save(const QImage &image, const QString &name) const;
};

using ScreenshotSceneFunction = std::function<void(ScreenshotContext &)>;

int registerScreenshotScene(const char *name, ScreenshotSceneFunction function);

#define KELVANE_SCREENSHOT_SCENE_CAT2(a, b) a##b
#define KELVANE_SCREENSHOT_SCENE_CAT(a, b) KELVANE_SCREENSHOT_SCENE_CAT2(a, b)
// KELVANE_SCREENSHOT_SCENE("welcome") { ... use `context` ... }
#define KELVANE_SCREENSHOT_SCENE(name)                                                             \
    static void KELVANE_SCREENSHOT_SCENE_CAT(screenshotScene_, __LINE__)(ScreenshotContext &);     \
    static const int KELVANE_SCREENSHOT_SCENE_CAT(screenshotSceneId_, __LINE__) =                  \
        registerScreenshotScene(name, &KELVANE_SCREENSHOT_SCENE_CAT(screenshotScene_, __LINE__));  \
    static void KELVANE_SCREENSHOT_SCENE_CAT(screenshotScene_,                                     \
                                             __LINE__)(ScreenshotContext & context)
