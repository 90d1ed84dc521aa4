// tobrel, the window program: the main window over the call engine and LAN presence.

#include "app/application.h"
#include "app/forms.h"
#include "app/mainwindow.h"
#include "app/sessionend.h"

#include "images/gifimage.h"
#include "presence/networklist.h"

#include <QApplication>
#include <QPointer>
#include <QSessionManager>

#include <cstdio>
#include <cstring>

namespace {

const char kVersion[] = "1.3";

const char kUsage[] = "Usage: tobrel [Qt options]\n"
                      "\n"
                      "Tobrel (Voxhall), a voice intercom for the local network: pick another computer from\n"
                      "the list (every running copy announces itself) or type its address, press the on/off\n"
                      "button, and the other side answers by itself. The settings are kept in tobrel.dat\n"
                      "beside the program, or in ~/.config/tobrel/ when that folder is not writable.\n"
                      "Help > Help (F1) opens the user guide in the browser.\n"
                      "\n"
                      "Options:\n"
                      "  -h, --help     show this text and exit\n"
                      "  -v, --version  show the version and exit\n"
                      "\n"
                      "Qt's own options work as in every Qt program, for example:\n"
                      "  -platform NAME   the windowing system (xcb, wayland, offscreen)\n"
                      "  -display NAME    the X display to open\n"
                      "  -style NAME      the widget style (Fusion, Windows)\n"
                      "\n"
                      "For a headless endpoint without a window, see tobrel-peer --help.\n";

// Answered before Qt looks for a display, so that they work anywhere.
bool answeredWithoutWindow(int argc, char **argv, int &exitCode)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h") || !std::strcmp(arg, "-?")) {
            std::fputs(kUsage, stdout);
            exitCode = 0;
            return true;
        }
        if (!std::strcmp(arg, "--version") || !std::strcmp(arg, "-v")) {
            std::printf("tobrel %s\n", kVersion);
            exitCode = 0;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    int exitCode = 0;
    if (answeredWithoutWindow(argc, argv, exitCode))
        return exitCode;

    // The local address table is filled before any window exists.
    presence::LocalIPs();

    QApplication application(argc, argv); // takes Qt's own options out of argv
    if (argc > 1) {
        std::fprintf(stderr, "tobrel: unknown argument '%s'\nTry 'tobrel --help'.\n", argv[1]);
        return 2;
    }
    app::setUpApplication();
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    images::registerGifImage();

    QPointer<app::TForm1> form = new app::TForm1;
    form->setAttribute(Qt::WA_DeleteOnClose);
    app::createDialogs(*form);

    // The end of the desktop session closes the window as its close box does.
    auto endSession = [form] {
        if (form)
            form->QueryEndSession();
        else
            QApplication::quit();
    };
#if QT_CONFIG(sessionmanager)
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &application,
        [endSession](QSessionManager &) { endSession(); });
#endif
    app::onTerminationRequest(&application, endSession);

    form->show();
    return QApplication::exec();
}
