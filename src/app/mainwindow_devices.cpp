// The main window's choice of sound devices: start-up, the Sound Devices dialog, and handing the
// choice to the wave layer between calls.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "call/telefoon.h"
#include "platform/wave/backend.h"

#include <QStatusBar>

#include <utility>

namespace app {

namespace {

// "Sound input "A" not found: using the system default." for the missing names (empty: present).
QString missingDevicesNote(const QString &input, const QString &output)
{
    if (!input.isEmpty() && !output.isEmpty())
        return QStringLiteral("Sound input \"%1\" and output \"%2\" not found: defaults used.").arg(input, output);
    if (!input.isEmpty())
        return QStringLiteral("Sound input \"%1\" not found: using the system default.").arg(input);
    return QStringLiteral("Sound output \"%1\" not found: using the system default.").arg(output);
}

} // namespace

void TForm1::useStoredDevices()
{
    DeviceChoice choice { m_devices.InputDevice, m_devices.OutputDevice };
    // The sound system is asked only about a stored name; what it does not list is returned.
    auto missing = [](QString &name, bool input) {
        if (name.isEmpty())
            return QString();
        const auto backend = wave::currentBackend();
        if ((input ? backend->inputDeviceNames() : backend->outputDeviceNames()).contains(name))
            return QString();
        return std::exchange(name, QString());
    };
    const QString missingInput = missing(choice.input, true);
    const QString missingOutput = missing(choice.output, false);
    m_pendingDevices = choice;
    applyDeviceChoice();
    if (missingInput.isEmpty() && missingOutput.isEmpty())
        return;

    // The window has a fixed width: long names are shortened in their middle until the note fits,
    // and the whole note is the status bar's tool tip for as long as it is shown.
    QStatusBar *bar = ui->StatusBar1;
    const QFontMetrics metrics = bar->fontMetrics();
    // Measured on the window: the bar is laid out only once the window is shown.
    const int room = width() - 3 * metrics.averageCharWidth();
    const QString whole = missingDevicesNote(missingInput, missingOutput);
    QString shown = whole;
    for (int nameWidth = room; metrics.horizontalAdvance(shown) > room && nameWidth > 0; nameWidth -= 10) {
        shown = missingDevicesNote(metrics.elidedText(missingInput, Qt::ElideMiddle, nameWidth),
            metrics.elidedText(missingOutput, Qt::ElideMiddle, nameWidth));
    }
    bar->showMessage(shown);
    bar->setToolTip(whole);
    connect(
        bar, &QStatusBar::messageChanged, bar,
        [bar](const QString &message) {
            if (message.isEmpty())
                bar->setToolTip(QString());
        },
        Qt::SingleShotConnection);
}

void TForm1::applyDeviceChoice()
{
    if (!m_pendingDevices || (m_telefoon && m_telefoon->AudioActive()))
        return;
    wave::setChosenDevice(true, m_pendingDevices->input);
    wave::setChosenDevice(false, m_pendingDevices->output);
    m_pendingDevices.reset();
}

void TForm1::SoundDevicesClick()
{
    const auto backend = wave::currentBackend();
    const DeviceChoice current
        = m_pendingDevices.value_or(DeviceChoice { wave::chosenDevice(true), wave::chosenDevice(false) });
    SoundDevicesDialog dialog(backend->inputDeviceNames(), backend->outputDeviceNames(), current, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const DeviceChoice chosen = dialog.choice();
    m_devices.InputDevice = chosen.input;
    m_devices.OutputDevice = chosen.output;
    m_pendingDevices = chosen;
    applyDeviceChoice();
    SaveSettings();
}

} // namespace app
