// Renders the application icon's SVG to the PNG sizes the desktop's menus and docks use; run
// at build time so the PNGs always match the drawing.
// Usage: quillet_render_icon SOURCE.svg SIZE OUTPUT.png

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    // A build machine has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool sizeOk = false;
    const int size = arguments.size() == 4 ? arguments[2].toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fprintf(stderr, "usage: quillet_render_icon SOURCE.svg SIZE OUTPUT.png\n");
        return 2;
    }
    QSvgRenderer renderer(arguments[1]);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(arguments[1]));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(arguments[3], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(arguments[3]));
        return 1;
    }
    return 0;
}
