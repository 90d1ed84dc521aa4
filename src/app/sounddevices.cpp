#include "app/sounddevices.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace app {

const QString kSystemDefaultDevice = QStringLiteral("System default");

namespace {

// The default entry carries no name of its own, so that a device really called "System default"
// stays apart from it.
QListWidget *deviceList(const QStringList &names, const QString &current, QWidget *parent)
{
    auto *list = new QListWidget(parent);
    auto *systemDefault = new QListWidgetItem(kSystemDefaultDevice, list);
    systemDefault->setData(Qt::UserRole, QString());
    list->setCurrentItem(systemDefault);
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(name, list);
        item->setData(Qt::UserRole, name);
        if (!current.isEmpty() && name == current)
            list->setCurrentItem(item);
    }
    list->setMinimumWidth(260);
    return list;
}

QString chosenName(const QListWidget *list)
{
    const QListWidgetItem *item = list->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

} // namespace

SoundDevicesDialog::SoundDevicesDialog(
    const QStringList &inputs, const QStringList &outputs, const DeviceChoice &current, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Sound Devices"));
    m_inputs = deviceList(inputs, current.input, this);
    m_inputs->setObjectName(QStringLiteral("lstInput"));
    m_outputs = deviceList(outputs, current.output, this);
    m_outputs->setObjectName(QStringLiteral("lstOutput"));

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Input (microphone):"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Output (speakers):"), this), 0, 1);
    grid->addWidget(m_inputs, 1, 0);
    grid->addWidget(m_outputs, 1, 1);

    auto *note = new QLabel(QStringLiteral("The choice applies from the next call."), this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

DeviceChoice SoundDevicesDialog::choice() const
{
    return { chosenName(m_inputs), chosenName(m_outputs) };
}

} // namespace app
