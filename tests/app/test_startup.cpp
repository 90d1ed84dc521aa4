#include "windowfixture.h"

#include "ui_mainwindow.h"

#include "call/telefoon.h"
#include "controls/led.h"
#include "controls/slider.h"

#include "support/eventwait.h"

#include <QFile>
#include <QListWidget>
#include <QStatusBar>
#include <QTest>

using namespace testsupport;

namespace {

using StartUp = WindowTest;

// Without a stored port the window takes 49217, which another program on this machine may hold.
QStringList withoutDefaultPortInUse(QStringList messages)
{
    messages.removeAll(QStringLiteral("UDP port 49217 is already in use by another program"));
    return messages;
}

TEST_F(StartUp, WithoutSettingsFileUsesDefaultsAndWritesThem)
{
    QFile::remove(settingsPath());
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();

    EXPECT_EQ(storedSettings(), QByteArray("[Voxhall Settings]\nCodec=1\nPort=49217\nMode=1\nVolume=50\n"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral(" Tobrel"));
    EXPECT_FALSE(ui.ListBox1->isVisibleTo(&form));
    EXPECT_FALSE(ui.Label6->isVisibleTo(&form));
    EXPECT_EQ(ui.lblLocalIP->text(), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(ui.lblLocalPort->text(), QStringLiteral("49217"));
    EXPECT_EQ(ui.lblCodec->text(), QStringLiteral("GSM-6.10"));
    EXPECT_EQ(form.statusText(), QString());
    EXPECT_FALSE(ui.StopConnection->isEnabled());
    EXPECT_FALSE(ui.btnSpeak->isEnabled());
    EXPECT_EQ(ui.ComboBox1->currentText(), QStringLiteral("127.0.0.1"));

    call::TTelefoon &phone = *form.Telefoon1();
    EXPECT_EQ(phone.Local_Port(), 49217);
    EXPECT_EQ(phone.Remote_Port(), 49217);
    EXPECT_EQ(phone.WaitForconnectionTime(), 5);
    EXPECT_FALSE(phone.Mute());
    EXPECT_EQ(form.rawList(), QStringList { "127.0.0.1" });
    EXPECT_EQ(withoutDefaultPortInUse(errors.messages()), QStringList());
    EXPECT_EQ(messages.messages, QStringList());
}

// Each stored file as the window shows it after start-up, and as the next save writes it back.
TEST_F(StartUp, AppliesStoredSettings)
{
    const QByteArray portLine = "Port=" + QByteArray::number(port) + "\n";
    const QByteArray hexPortLine = "Port=0x" + QByteArray::number(port, 16).toUpper() + "\n";
    const QByteArray savedPort = "Port=" + QByteArray::number(port) + "\n";
    const struct
    {
        const char *name;
        QByteArray file;
        int mode;
        const char *codecCaption;
        call::Tverbinding connection;
        int volume;
        QByteArray savedBySlider; // the file after the next save (the slider moved to its start)
    } cases[] = {
        { "half duplex", portLine + "Mode=2\nCodec=4\n", 2, "PCM-8", call::Tverbinding::PCM8, 50,
            savedPort + "Mode=2\nCodec=4\nVolume=2\n" },
        { "hexadecimal port", hexPortLine + "Codec=6\nVolume=20\n", 1, "PCM-22", call::Tverbinding::PCM22, 20,
            savedPort + "Codec=6\nVolume=2\nMode=1\n" },
        { "codec outside 1..6, volume beyond the slider", portLine + "Codec=9\nMode=7\nVolume=500\n", 7, "GSM-6.10",
            call::Tverbinding::GSM610, 100, savedPort + "Codec=9\nMode=7\nVolume=2\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        storeSettings(c.file);
        app::TForm1 &form = start(environment());
        const Ui::TForm1 &ui = form.controls();
        call::TTelefoon &phone = *form.Telefoon1();
        EXPECT_EQ(ui.lblLocalPort->text(), QString::number(port));
        EXPECT_EQ(phone.Local_Port(), port);
        EXPECT_EQ(phone.Remote_Port(), port);
        EXPECT_EQ(ui.lblCodec->text(), QLatin1String(c.codecCaption));
        EXPECT_EQ(ui.CodecGroup->checkedAction()->text(), QLatin1String(c.codecCaption));
        EXPECT_EQ(phone.Connection(), c.connection);
        EXPECT_EQ(ui.VolumeSlider->Value(), c.volume);
        EXPECT_EQ(form.settings().Mode, c.mode);

        const bool half = c.mode == 2;
        EXPECT_EQ(ui.rbHalfDuplex->isChecked(), half);
        EXPECT_EQ(ui.rbFullDuplex->isChecked(), c.mode == 1 || c.mode == 7);
        EXPECT_EQ(ui.btnSpeak->isEnabled(), half);
        EXPECT_EQ(ui.lblListen->isEnabled(), half);
        EXPECT_EQ(ui.Led4->Value(), half);
        EXPECT_FALSE(ui.Led3->Value());
        EXPECT_EQ(ui.Led4->FalseColor(), half ? controls::clGreen : controls::clBtnFace);
        EXPECT_EQ(phone.Mute(), half);

        QTest::keyClick(ui.VolumeSlider, Qt::Key_Home);
        EXPECT_EQ(storedSettings(), "[Voxhall Settings]\n" + c.savedBySlider);
        delete window.data();
    }
    EXPECT_EQ(errors.messages(), QStringList());
}

TEST_F(StartUp, UnwritableSettingsFileIsReportedOnceAndStartUpGoesOn)
{
    app::MainWindowEnvironment unwritable = environment();
    const QString folder = QFileInfo(settingsPath()).absolutePath();
    unwritable.settingsPath = [folder] { return folder; }; // a folder cannot be written as a file
    app::TForm1 &form = start(unwritable);
    EXPECT_EQ(withoutDefaultPortInUse(errors.messages()),
        QStringList { QStringLiteral("Unable to write to %1").arg(folder) });
    EXPECT_FALSE(form.controls().StopConnection->isEnabled());
    EXPECT_EQ(form.controls().lblLocalIP->text(), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(form.controls().lblLocalPort->text(), QStringLiteral("49217"));
    EXPECT_EQ(form.controls().lblCodec->text(), QStringLiteral("GSM-6.10"));
    EXPECT_EQ(form.rawList(), QStringList { "127.0.0.1" });
}

// With the system's default font every control shows whole, inside the 539 x 250 window, also with
// the longest texts it can be given.
TEST_F(StartUp, EveryControlFitsTheWindow)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    ui.lblLocalIP->setText(QStringLiteral("255.255.255.255"));
    ui.lblRemoteIP->setText(QStringLiteral("255.255.255.255"));
    ui.lblRemotePort->setText(QStringLiteral("65535"));
    ui.lblCodec->setText(QStringLiteral("GSM-6.10"));
    ui.StatusBar1->findChild<QLabel *>()->setText(QStringLiteral(" No Connection"));
    form.show();
    serveEvents(50);

    ASSERT_EQ(form.size(), QSize(539, 250));
    const QRect client = form.rect();
    int checked = 0;
    for (QWidget *widget : form.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&form) || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QRect placed(widget->mapTo(&form, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(client.contains(placed)) << widget->objectName().toStdString();
        if (QWidget *parent = widget->parentWidget(); parent && parent != &form) {
            EXPECT_TRUE(parent->rect().contains(widget->geometry())) << widget->objectName().toStdString();
        }
        const QSize needed = widget->minimumSizeHint();
        if (needed.isValid() && !widget->inherits("QStatusBar")) {
            EXPECT_GE(widget->width(), needed.width()) << widget->objectName().toStdString();
            EXPECT_GE(widget->height(), needed.height()) << widget->objectName().toStdString();
        }
        ++checked;
    }
    EXPECT_GT(checked, 30);
    EXPECT_FALSE(ui.btnOnOff->icon().pixmap(32).isNull());
    EXPECT_FALSE(ui.btnSpeak->icon().pixmap(20).isNull());
    EXPECT_GE(ui.StatusBar1->height(), ui.StatusBar1->sizeHint().height());
    EXPECT_EQ(ui.StatusBar1->geometry().bottom(), client.bottom());
}

} // namespace
