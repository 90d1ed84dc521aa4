#include "windowfixture.h"

#include "ui_mainwindow.h"

#include "app/sounddevices.h"
#include "call/telefoon.h"

#include "support/eventwait.h"
#include "support/printers.h"

#include <QApplication>
#include <QListWidget>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace testsupport;

namespace {

class SoundDevices : public WindowTest
{
protected:
    SoundDevices() { devices->setDeviceNames({ "USB Headset", "Line In" }, { "USB Headset", "HDMI" }); }
    ~SoundDevices() override
    {
        wave::setChosenDevice(true, {});
        wave::setChosenDevice(false, {});
    }

    static QStringList entries(const QListWidget *list)
    {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return texts;
    }

    // Opens Tools > Sound Devices... and lets act work the dialog while it is shown.
    void useDialog(app::TForm1 &form, const std::function<void(app::SoundDevicesDialog &)> &act)
    {
        bool shown = false;
        QTimer::singleShot(0, &form, [&] {
            auto *dialog = qobject_cast<app::SoundDevicesDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown = true;
            act(*dialog);
        });
        app::TForm1::click(form.controls().SoundDevices);
        EXPECT_TRUE(shown);
    }

    // The device names of the opens since the first skipped ones, as "in:NAME" and "out:NAME".
    QStringList openedNames(std::size_t skipped) const
    {
        QStringList names;
        const std::vector<wave::DeviceRequest> opens = devices->opens();
        for (std::size_t i = skipped; i < opens.size(); ++i)
            names << (opens[i].input ? "in:" : "out:") + opens[i].deviceName;
        names.sort();
        return names;
    }
};

TEST_F(SoundDevices, AStoredDeviceThatIsGoneGivesWayToTheDefaultWithANote)
{
    const QByteArray portLine = "Port=" + QByteArray::number(port) + "\n";
    const struct
    {
        QByteArray stored;
        const char *input;
        const char *output;
        const char *note;
    } cases[] = {
        { "InputDevice=Line In\nOutputDevice=HDMI\n", "Line In", "HDMI", "" },
        { "InputDevice=Old Mic\nOutputDevice=HDMI\n", "", "HDMI",
            "Sound input \"Old Mic\" not found: using the system default." },
        { "OutputDevice=Line In\n", "", "", "Sound output \"Line In\" not found: using the system default." },
        // Too long for the window: the names are shortened in their middle.
        { "InputDevice=HDA Intel PCH: ALC892 Analog\nOutputDevice=USB Audio Device: Headset Speakers\n", "", "",
            "Sound input \"HDA Intel PCH: ALC892 Analog\" and output \"USB Audio Device: Headset Speakers\" not "
            "found: defaults used." },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored.constData());
        delete window.data();
        storeSettings(portLine + c.stored);
        app::TForm1 &form = start(environment());
        EXPECT_EQ(wave::chosenDevice(true), c.input);
        EXPECT_EQ(wave::chosenDevice(false), c.output);
        // The whole note; shortened where the window is too narrow for it.
        const QStatusBar *bar = form.statusBar();
        const QString shown = bar->currentMessage();
        const QString note = QString::fromUtf8(c.note);
        EXPECT_EQ(bar->toolTip(), note);
        EXPECT_TRUE(shown == note
            || (shown.count(QChar(0x2026)) == 2 && shown.startsWith("Sound input \"HDA")
                && shown.endsWith("\" not found: defaults used.")))
            << shown.toStdString();
        EXPECT_LE(bar->fontMetrics().horizontalAdvance(shown), form.width());
        // Kept for the day the device is back.
        form.SaveSettings();
        EXPECT_TRUE(storedSettings().contains(c.stored)) << storedSettings().constData();
    }
    // The note gives way to the call status.
    app::TForm1::click(window->controls().StartConnection);
    EXPECT_EQ(window->statusBar()->currentMessage(), QString());
    EXPECT_EQ(window->statusBar()->toolTip(), QString());
    EXPECT_EQ(window->statusText(), " Connected");
    EXPECT_EQ(errors.messages(), QStringList());
}

TEST_F(SoundDevices, TheChoiceIsStoredAndAppliesFromTheNextCall)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();

    // Cancel changes nothing.
    useDialog(form, [&](app::SoundDevicesDialog &dialog) {
        EXPECT_EQ(entries(dialog.inputList()), QStringList({ "System default", "USB Headset", "Line In" }));
        EXPECT_EQ(entries(dialog.outputList()), QStringList({ "System default", "USB Headset", "HDMI" }));
        EXPECT_EQ(dialog.inputList()->currentRow(), 0);
        EXPECT_EQ(dialog.outputList()->currentRow(), 0);
        dialog.inputList()->setCurrentRow(1);
        dialog.reject();
    });
    EXPECT_EQ(wave::chosenDevice(true), QString());
    EXPECT_FALSE(storedSettings().contains("Device"));

    // Chosen during a call: that call keeps its devices, the next one has the new ones.
    ui.btnOnOff->click();
    // The window calls itself: in the call once its own request has come back and been answered.
    ASSERT_TRUE(waitUntil([&] { return ui.lblRemotePort->text() == QString::number(port); }));
    const std::size_t before = devices->opens().size();
    useDialog(form, [&](app::SoundDevicesDialog &dialog) {
        dialog.inputList()->setCurrentRow(2);
        dialog.outputList()->setCurrentRow(1);
        dialog.accept();
    });
    EXPECT_TRUE(storedSettings().endsWith("Volume=50\nInputDevice=Line In\nOutputDevice=USB Headset\n"))
        << storedSettings().constData();
    EXPECT_EQ(wave::chosenDevice(true), QString());
    EXPECT_EQ(openedNames(before), QStringList());
    ui.btnOnOff->click();
    // The end message the window sent itself comes back; the next call must not meet it.
    QTest::qWait(300);
    EXPECT_EQ(wave::chosenDevice(true), "Line In");
    EXPECT_EQ(wave::chosenDevice(false), "USB Headset");
    const std::size_t second = devices->opens().size();
    ui.btnOnOff->click();
    ASSERT_TRUE(waitUntil([&] { return ui.lblRemotePort->text() == QString::number(port); }));
    EXPECT_EQ(openedNames(second), QStringList({ "in:Line In", "out:USB Headset" }));
    ui.btnOnOff->click();
    ASSERT_FALSE(form.Telefoon1()->AudioActive());

    // The dialog shows the choice; back to the default.
    useDialog(form, [&](app::SoundDevicesDialog &dialog) {
        EXPECT_EQ(dialog.inputList()->currentItem()->text(), "Line In");
        EXPECT_EQ(dialog.outputList()->currentItem()->text(), "USB Headset");
        dialog.inputList()->setCurrentRow(0);
        dialog.accept();
    });
    EXPECT_EQ(wave::chosenDevice(true), QString());
    EXPECT_TRUE(storedSettings().endsWith("InputDevice=\nOutputDevice=USB Headset\n"));
    EXPECT_EQ(errors.messages(), QStringList());
}

} // namespace
