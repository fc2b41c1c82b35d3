// Build-time tool: writes the wordmark resource and the installed application icons into
// the directory given as its only argument.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "app/shell/artwork.h"

namespace {

constexpr int wordmarkPixelHeight = 52;  // four times the 13 points it is shown at
constexpr int iconSizes[] = {32, 48, 64, 128, 256};

bool writeImage(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) {
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool written = writeImage(kova::shell::drawWordmark(wordmarkPixelHeight),
                              out.filePath(QStringLiteral("wordmark.png")));
    for (int size : iconSizes) {
        const QString folder = QStringLiteral("icons/%1x%1").arg(size);
        out.mkpath(folder);
        written &=
            writeImage(kova::shell::drawApplicationIcon(size),
                       out.filePath(folder + QStringLiteral("/com.brenvale.kova.connect.png")));
    }
    return written ? 0 : 1;
}
