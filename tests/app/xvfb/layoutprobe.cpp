// Prints where the main window's controls sit, in pixels from the window's top-left corner, one
// "name x y width height" line each, as the window lays them out on the current display with its
// fonts. The person-like test uses it to know where to click.
// Usage: tobrel_layout_probe SETTINGS-FILE

#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QApplication>
#include <QStatusBar>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: tobrel_layout_probe SETTINGS-FILE\n";
        return 2;
    }
    app::MainWindowEnvironment environment;
    environment.settingsPath = [path = QString::fromLocal8Bit(argv[1])] { return path; };
    environment.mailBox = QStringLiteral("Probe");
    environment.pingPort = 0;
    app::TForm1 form(environment);
    form.show();
    QApplication::processEvents();

    QTextStream out(stdout);
    const Ui::TForm1 &ui = form.controls();
    out << "window 0 0 " << form.width() << ' ' << form.height() << '\n';
    for (QWidget *widget : { static_cast<QWidget *>(ui.btnOnOff), static_cast<QWidget *>(ui.Led1),
             static_cast<QWidget *>(ui.ComboBox1), static_cast<QWidget *>(ui.btnExit),
             static_cast<QWidget *>(ui.btnMute), static_cast<QWidget *>(ui.StatusBar1) }) {
        const QPoint at = widget->mapTo(&form, QPoint(0, 0));
        out << widget->objectName() << ' ' << at.x() << ' ' << at.y() << ' ' << widget->width() << ' '
            << widget->height() << '\n';
    }
    return 0;
}
