// Build-time tool: renders an SVG to square PNGs, e.g. the application icon
// for the desktop package's hicolor theme.
//   brisko-render-svg INPUT.svg OUTPUT.png SIZE
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    // Runs during the build, where no display may exist.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    bool sizeOk = false;
    const int size = arguments.size() == 4 ? arguments.at(3).toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0 || size > 4096) {
        std::fprintf(stderr, "usage: brisko-render-svg INPUT.svg OUTPUT.png SIZE\n");
        return 2;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "brisko-render-svg: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    if (!image.save(arguments.at(2), "PNG")) {
        std::fprintf(stderr, "brisko-render-svg: cannot write %s\n", qPrintable(arguments.at(2)));
        return 1;
    }
    return 0;
}
