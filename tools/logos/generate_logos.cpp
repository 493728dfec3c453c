// Writes the brand wordmarks of resources/Logos: each brand's name set in a
// plain bold sans-serif on a transparent background. They are our own simple
// type settings, not reproductions of any maker's logo artwork.
//   kelvane-logos <output folder>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

namespace {

struct Wordmark
{
    const char *brand; // file name = brand name offered by the editor
    const char *text;  // what the wordmark reads
    bool wide = false; // extra letter spacing for all-capital names
};

// Dark gray rather than black, so the marks sit quietly in a white bar.
constexpr QRgb kInk = 0xff1d1d1f;
constexpr int kTextPixelSize = 160;
constexpr int kMargin = 8;

QImage renderWordmark(const Wordmark &mark)
{
    QFont font(QStringLiteral("Nimbus Sans"));
    font.setPixelSize(kTextPixelSize);
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    if (mark.wide)
        font.setLetterSpacing(QFont::PercentageSpacing, 108);

    QPainterPath path;
    path.addText(0, 0, font, QString::fromUtf8(mark.text));
    const QRectF ink = path.boundingRect();
    const QSize size(int(std::ceil(ink.width())) + 2 * kMargin,
                     int(std::ceil(ink.height())) + 2 * kMargin);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(kMargin - ink.left(), kMargin - ink.top());
    painter.fillPath(path, QColor::fromRgba(kInk));
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QString outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outputDir);

    const Wordmark marks[] = {
        {"Apple", "Apple"},
        {"Canon", "Canon"},
        {"DJI", "DJI", true},
        {"Fujifilm", "FUJIFILM", true},
        {"GoPro", "GoPro"},
        {"Google", "Google"},
        {"Hasselblad", "HASSELBLAD", true},
        {"Honor", "HONOR", true},
        {"Huawei", "HUAWEI", true},
        {"Insta360", "Insta360"},
        {"Kodak", "Kodak"},
        {"Leica", "Leica"},
        {"Minolta", "MINOLTA", true},
        {"Nikon", "Nikon"},
        {"OM System", "OM SYSTEM", true},
        {"Olympus", "OLYMPUS", true},
        {"OnePlus", "OnePlus"},
        {"Oppo", "OPPO", true},
        {"Panasonic", "Panasonic"},
        {"Pentax", "PENTAX", true},
        {"Ricoh", "RICOH", true},
        {"Samsung", "SAMSUNG", true},
        {"Sigma", "SIGMA", true},
        {"Sony", "SONY", true},
        {"Vivo", "vivo"},
        {"Xiaomi", "Xiaomi"},
    };
    int failures = 0;
    for (const Wordmark &mark : marks) {
        const QString path =
            QDir(outputDir).filePath(QString::fromUtf8(mark.brand) + QStringLiteral(".png"));
        if (renderWordmark(mark).save(path)) {
            std::printf("wrote %s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
