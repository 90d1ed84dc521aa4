// tobrel-gallery: shows every look of the LED, slider and link controls.
//   tobrel-gallery                    opens the window
//   tobrel-gallery --screenshot FILE  saves the window's picture (PNG by the file's extension)
//                                     and exits; works on the offscreen platform
#include "gallerywindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Every look of the Tobrel controls."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("Save the window's picture to <file> and exit."), QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(app);

    gallery::GalleryWindow window;
    window.show();
    if (!parser.isSet(screenshot))
        return app.exec();

    QApplication::processEvents();
    const QString file = parser.value(screenshot);
    if (!window.grab().save(file)) {
        std::fprintf(stderr, "tobrel-gallery: cannot save %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}
