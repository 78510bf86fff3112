// Renders the application icon's SVG into the PNG sizes the desktop and the window use.
// Usage: render_icons ICON.svg SIZE:OUT.png [SIZE:OUT.png ...]
// The build's "icons" target runs it over the committed PNGs after the SVG has changed.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3) {
        std::fputs("usage: render_icons ICON.svg SIZE:OUT.png [SIZE:OUT.png ...]\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_icons: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    for (const QString &target : arguments.mid(2)) {
        const qsizetype colon = target.indexOf(u':');
        bool sizeRead = false;
        const int size = colon > 0 ? target.left(colon).toInt(&sizeRead) : 0;
        if (!sizeRead || size <= 0) {
            std::fprintf(stderr, "render_icons: '%s' is not SIZE:OUT.png\n", qPrintable(target));
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString file = target.mid(colon + 1);
        if (!image.convertToFormat(QImage::Format_ARGB32).save(file, "PNG")) {
            std::fprintf(stderr, "render_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
