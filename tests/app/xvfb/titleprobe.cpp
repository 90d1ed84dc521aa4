// Shows the main window, the About box and the port dialog on the current display, after the
// program's own application set-up, and prints for each its native window id and the caption it
// must carry ("id<TAB>caption" lines, then "ready"); then stays up for a while so that the
// display can be asked what it holds. Presence traffic stays on loopback.
// Usage: tobrel_title_probe SETTINGS-FILE

#include "app/about.h"
#include "app/application.h"
#include "app/changeport.h"
#include "app/mainwindow.h"
#include "platform/mailslot/mailslotapi.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

#include <arpa/inet.h>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: tobrel_title_probe SETTINGS-FILE\n";
        return 2;
    }
    app::setUpApplication();
    platform::mailslot::setBroadcastTargets([] { return std::vector<uint32_t> { htonl(INADDR_LOOPBACK) }; });
    app::MainWindowEnvironment environment;
    environment.settingsPath = [path = QString::fromLocal8Bit(argv[1])] { return path; };
    environment.mailBox = QStringLiteral("Titles");
    environment.pingPort = 0;
    environment.useLocalIPsTable = false;
    app::TForm1 form(environment);
    app::TAboutBox about(&form);
    app::TfrmChangePort port(form);
    form.show();
    about.show();
    port.show();
    QApplication::processEvents();

    QTextStream out(stdout);
    out << form.winId() << '\t' << " Tobrel" << '\n';
    out << about.winId() << '\t' << "About" << '\n';
    out << port.winId() << '\t' << " Change communication Port" << '\n';
    out << "ready" << Qt::endl;
    QTimer::singleShot(20000, &application, &QApplication::quit);
    return QApplication::exec();
}
