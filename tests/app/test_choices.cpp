#include "windowfixture.h"

#include "ui_mainwindow.h"

#include "call/telefoon.h"
#include "controls/led.h"
#include "controls/slider.h"
#include "presence/mailslot.h"

#include "support/eventwait.h"

#include <QTest>

using namespace testsupport;

namespace {

using Choices = WindowTest;

TEST_F(Choices, MuteStaysInStepFromButtonAndMenu)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    const struct
    {
        const char *step;
        std::function<void()> act;
        bool muted;
    } steps[] = {
        { "button down", [&] { QTest::mouseClick(ui.btnMute, Qt::LeftButton); }, true },
        { "menu", [&] { ui.MuteoutgoingSound1->trigger(); }, false },
        { "menu again", [&] { ui.MuteoutgoingSound1->trigger(); }, true },
        { "button up", [&] { QTest::mouseClick(ui.btnMute, Qt::LeftButton); }, false },
    };
    for (const auto &s : steps) {
        s.act();
        EXPECT_EQ(ui.btnMute->isChecked(), s.muted) << s.step;
        EXPECT_EQ(ui.MuteoutgoingSound1->isChecked(), s.muted) << s.step;
        EXPECT_EQ(ui.Led2->Value(), s.muted) << s.step;
        EXPECT_EQ(form.Telefoon1()->Mute(), s.muted) << s.step;
    }
}

TEST_F(Choices, AdaptivePlayoutItemIsStoredAfterTheFourKeys)
{
    storeSettings("Port=" + QByteArray::number(port) + "\nPlayout=1\n");
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    EXPECT_TRUE(ui.AdaptivePlayout1->isChecked());
    EXPECT_EQ(form.Telefoon1()->playout(), call::Playout::Adaptive);
    const struct
    {
        bool adaptive;
        call::Playout playout;
    } steps[] = { { false, call::Playout::Designed }, { true, call::Playout::Adaptive } };
    for (const auto &s : steps) {
        ui.AdaptivePlayout1->trigger();
        EXPECT_EQ(ui.AdaptivePlayout1->isChecked(), s.adaptive);
        EXPECT_EQ(form.Telefoon1()->playout(), s.playout);
        EXPECT_TRUE(storedSettings().contains(QByteArray("\nPlayout=") + (s.adaptive ? "1" : "0") + "\n"))
            << storedSettings().constData();
    }
}

TEST_F(Choices, CodecItemsSetTheProposedCodecAndAreSaved)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    const struct
    {
        QAction *item;
        int number;
        const char *caption;
        call::Tverbinding connection;
    } codecs[] = {
        { ui.PCM220, 6, "PCM-22", call::Tverbinding::PCM22 },
        { ui.PCM110, 5, "PCM-11", call::Tverbinding::PCM11 },
        { ui.PCM80, 4, "PCM-8", call::Tverbinding::PCM8 },
        { ui.LH8, 3, "LH-8", call::Tverbinding::LERNOUT8 },
        { ui.LH4, 2, "LH-4", call::Tverbinding::LERNOUT4 },
        { ui.GSM6100, 1, "GSM-6.10", call::Tverbinding::GSM610 },
    };
    for (const auto &c : codecs) {
        c.item->trigger();
        EXPECT_EQ(ui.CodecGroup->checkedAction(), c.item) << c.caption;
        EXPECT_EQ(ui.lblCodec->text(), QLatin1String(c.caption));
        EXPECT_EQ(form.Telefoon1()->Connection(), c.connection) << c.caption;
        EXPECT_TRUE(storedSettings().startsWith(
            "[Voxhall Settings]\nPort=" + QByteArray::number(port) + "\nCodec=" + QByteArray::number(c.number) + "\n"))
            << storedSettings().constData();
    }
}

TEST_F(Choices, DuplexModesSwitchTheOutgoingSoundOnly)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    call::TTelefoon &phone = *form.Telefoon1();
    auto savedMode = [&] {
        return storedSettings().contains("Mode=2") ? 2 : storedSettings().contains("Mode=1") ? 1 : 0;
    };

    QTest::mouseClick(ui.rbHalfDuplex, Qt::LeftButton);
    EXPECT_TRUE(ui.btnSpeak->isEnabled());
    EXPECT_TRUE(ui.lblSpeak->isEnabled());
    EXPECT_TRUE(ui.Led4->Value());
    EXPECT_FALSE(ui.Led3->Value());
    EXPECT_EQ(ui.Led3->FalseColor(), controls::clMaroon);
    EXPECT_TRUE(phone.Mute());
    EXPECT_EQ(savedMode(), 2);

    QTest::mouseClick(ui.btnSpeak, Qt::LeftButton);
    EXPECT_FALSE(phone.Mute());
    EXPECT_TRUE(ui.Led3->Value());
    EXPECT_FALSE(ui.Led4->Value());
    QTest::mouseClick(ui.btnSpeak, Qt::LeftButton);
    EXPECT_TRUE(phone.Mute());
    EXPECT_FALSE(ui.Led3->Value());
    EXPECT_TRUE(ui.Led4->Value());

    // Full duplex after speaking: both small LEDs off, the switch greyed out but left down.
    QTest::mouseClick(ui.btnSpeak, Qt::LeftButton);
    QTest::mouseClick(ui.rbFullDuplex, Qt::LeftButton);
    EXPECT_FALSE(ui.Led3->Value());
    EXPECT_FALSE(ui.Led4->Value());
    EXPECT_EQ(ui.Led4->FalseColor(), controls::clBtnFace);
    EXPECT_FALSE(ui.btnSpeak->isEnabled());
    EXPECT_TRUE(ui.btnSpeak->isChecked());
    EXPECT_FALSE(phone.Mute());
    EXPECT_EQ(savedMode(), 1);

    // Back to half duplex: listening, with the switch up to say so; one press speaks.
    QTest::mouseClick(ui.rbHalfDuplex, Qt::LeftButton);
    EXPECT_FALSE(ui.btnSpeak->isChecked());
    EXPECT_TRUE(phone.Mute());
    QTest::mouseClick(ui.btnSpeak, Qt::LeftButton);
    EXPECT_FALSE(phone.Mute());
    EXPECT_TRUE(ui.Led3->Value());
    QTest::mouseClick(ui.rbFullDuplex, Qt::LeftButton);

    // Clicking the mode already chosen changes and saves nothing.
    QFile::remove(settingsPath());
    QTest::mouseClick(ui.rbFullDuplex, Qt::LeftButton);
    EXPECT_EQ(storedSettings(), QByteArray());
}

// Outgoing sound flows only while neither the mute button nor the listening side of half duplex
// holds it back: no duplex choice lets the microphone out while the mute button is down.
TEST_F(Choices, MuteButtonAndListeningBothHoldOutgoingSoundBack)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    const struct
    {
        const char *step;
        QAbstractButton *button;
        bool muted;
    } steps[] = {
        { "mute button down", ui.btnMute, true },
        { "half duplex", ui.rbHalfDuplex, true },
        { "speak", ui.btnSpeak, true },
        { "full duplex", ui.rbFullDuplex, true },
        { "mute button up", ui.btnMute, false },
        { "half duplex again", ui.rbHalfDuplex, true },
        { "mute button down while listening", ui.btnMute, true },
        { "mute button up while listening", ui.btnMute, true },
        { "speak again", ui.btnSpeak, false },
    };
    for (const auto &s : steps) {
        QTest::mouseClick(s.button, Qt::LeftButton);
        EXPECT_EQ(form.Telefoon1()->Mute(), s.muted) << s.step;
        EXPECT_EQ(ui.Led2->Value(), ui.btnMute->isChecked()) << s.step;
    }
}

TEST_F(Choices, VolumeIsKeptWhenTheUserLetsGoOfTheSlider)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    QTest::keyClick(ui.VolumeSlider, Qt::Key_Left);
    EXPECT_EQ(ui.VolumeSlider->Value(), 42);
    EXPECT_EQ(form.settings().Volume, 42);
    EXPECT_TRUE(storedSettings().endsWith("Volume=42\n")) << storedSettings().constData();
}

// The window hears its own announcements (the box receives what this machine broadcasts), so its
// list fills with its own addresses under its computer name.
TEST_F(Choices, RefreshListsTheAnnouncedAddresses)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    ASSERT_TRUE(form.MailSlot1()->Active());
    const QString computer = form.MailSlot1()->computerName();
    const QStringList expected { QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.7\r\n") + computer,
        QStringLiteral("198.51.100.9\r\n") + computer };
    auto listed = [&] {
        QStringList items;
        for (int i = 0; i < ui.ComboBox1->count(); ++i)
            items << ui.ComboBox1->itemText(i);
        return items;
    };
    ASSERT_TRUE(waitUntil([&] { return listed() == expected; }, 8000)) << listed().join('|').toStdString();
    // Its own "Resend" made it announce once more: the raw list holds each address twice.
    EXPECT_TRUE(waitUntil([&] { return form.rawList().size() == 5; }));

    // A refresh starts the raw list over; the list in the box keeps each entry once.
    QTest::mouseClick(ui.btnRefresh, Qt::LeftButton);
    EXPECT_EQ(form.rawList(), QStringList { "127.0.0.1" });
    EXPECT_TRUE(waitUntil([&] { return form.rawList().size() == 5; }, 8000));
    EXPECT_EQ(listed(), expected);
}

} // namespace
