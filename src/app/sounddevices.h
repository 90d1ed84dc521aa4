#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;

namespace app {

// The sound devices chosen by name; empty: the system default.
struct DeviceChoice
{
    QString input;
    QString output;
};

extern const QString kSystemDefaultDevice; // "System default"

// Tools > "Sound Devices...": the input and the output devices in two lists, "System default"
// first, then the names given. The current choice is selected (the default when its device is
// not listed). The caller applies what OK leaves in choice().
class SoundDevicesDialog : public QDialog
{
    Q_OBJECT

public:
    SoundDevicesDialog(
        const QStringList &inputs, const QStringList &outputs, const DeviceChoice &current, QWidget *parent = nullptr);

    DeviceChoice choice() const;
    QListWidget *inputList() const { return m_inputs; }
    QListWidget *outputList() const { return m_outputs; }

private:
    QListWidget *m_inputs = nullptr;
    QListWidget *m_outputs = nullptr;
};

} // namespace app
