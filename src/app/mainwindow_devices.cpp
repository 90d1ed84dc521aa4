// The main window's choice of sound devices: start-up, the Sound Devices dialog, and handing the
// choice to the wave layer between calls.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "call/telefoon.h"
#include "platform/wave/backend.h"

namespace app {

void TForm1::useStoredDevices()
{
    DeviceChoice choice { m_devices.InputDevice, m_devices.OutputDevice };
    QStringList notes;
    // The sound system is asked only about a stored name.
    auto check = [&](QString &name, bool input) {
        if (name.isEmpty())
            return;
        const auto backend = wave::currentBackend();
        if ((input ? backend->inputDeviceNames() : backend->outputDeviceNames()).contains(name))
            return;
        notes << QStringLiteral("Sound %1 device \"%2\" was not found: the system default is used.")
                     .arg(input ? QStringLiteral("input") : QStringLiteral("output"), name);
        name.clear();
    };
    check(choice.input, true);
    check(choice.output, false);
    m_pendingDevices = choice;
    applyDeviceChoice();
    if (!notes.isEmpty())
        ui->StatusBar1->showMessage(notes.join(QLatin1Char(' ')));
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
