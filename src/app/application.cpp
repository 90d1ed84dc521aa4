#include "app/application.h"

#include "app/about.h"

#include "framework/application.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

namespace {

const QString kTitle = QStringLiteral("Tobrel");

} // namespace

void setUpApplication()
{
    // No display name: Qt would append it to every window's caption (" Change communication
    // Port — Tobrel"). The message boxes carry the program's title themselves.
    QApplication::setApplicationName(QStringLiteral("tobrel"));
    QApplication::setWindowIcon(programIcon());

    framework::Application::setExceptionHandler([](QObject *, const QString &message) {
        QMessageBox::critical(QApplication::activeWindow(), kTitle, message);
    });
    framework::Application::setShowMessageHandler([](const QString &text) {
        QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    });
    framework::Application::setBeepHandler([] { QApplication::beep(); });
}

} // namespace app
