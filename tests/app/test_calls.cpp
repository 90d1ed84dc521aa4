#include "windowfixture.h"

#include "ui_mainwindow.h"

#include "call/telefoon.h"
#include "controls/led.h"
#include "controls/slider.h"

#include "support/eventwait.h"

#include <QLineEdit>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

using Calls = WindowTest;

bool inCall(const app::TForm1 &form)
{
    const Ui::TForm1 &ui = form.controls();
    return ui.btnOnOff->isChecked() && ui.Led1->Value() && !ui.StartConnection->isEnabled()
        && ui.StopConnection->isEnabled() && form.statusText() == QStringLiteral(" Connected");
}

bool idleAfterCall(const app::TForm1 &form)
{
    const Ui::TForm1 &ui = form.controls();
    return !ui.btnOnOff->isChecked() && !ui.Led1->Value() && ui.StartConnection->isEnabled()
        && !ui.StopConnection->isEnabled() && form.statusText() == QStringLiteral(" No Connection")
        && ui.lblRemoteIP->text() == QStringLiteral("0.0.0.0") && ui.lblRemotePort->text() == QStringLiteral("0000");
}

TEST_F(Calls, OnOffButtonPlacesAndEndsACall)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    call::TTelefoon &phone = *form.Telefoon1();

    // A call to 127.0.0.1 on the window's own port reaches the window itself, which answers it.
    QTest::mouseClick(ui.btnOnOff, Qt::LeftButton);
    EXPECT_TRUE(inCall(form));
    EXPECT_TRUE(phone.Calling());
    ASSERT_TRUE(waitUntil([&] { return ui.lblRemotePort->text() == QString::number(port); }));
    EXPECT_EQ(ui.lblRemoteIP->text(), QStringLiteral("127.0.0.1"));
    // The slider's level is the speaker's from the moment the devices open (a set level reads back
    // one lower).
    EXPECT_EQ(phone.Volume(), 49);
    QTest::keyClick(ui.VolumeSlider, Qt::Key_End);
    EXPECT_GE(phone.Volume(), 99);
    QTest::keyClick(ui.VolumeSlider, Qt::Key_Home);
    EXPECT_LE(phone.Volume(), 2);
    EXPECT_GE(messages.beeps, 1);

    const int beeps = messages.beeps;
    QTest::mouseClick(ui.btnOnOff, Qt::LeftButton);
    EXPECT_TRUE(idleAfterCall(form));
    EXPECT_FALSE(phone.Calling());
    EXPECT_FALSE(phone.AudioActive());
    EXPECT_GT(messages.beeps, beeps);
    EXPECT_EQ(errors.messages(), QStringList());
}

// A call that comes in while the window is still starting up (it serves messages for a second)
// can be ended like any other.
TEST_F(Calls, ACallAnsweredDuringStartUpCanBeEnded)
{
    QTimer::singleShot(200, [&] { peer().CallTo(QStringLiteral("127.0.0.1")); });
    app::TForm1 &form = start(environment());
    ASSERT_TRUE(waitUntil([&] { return form.Telefoon1()->AudioActive(); }));
    EXPECT_TRUE(inCall(form));
    QTest::mouseClick(form.controls().btnOnOff, Qt::LeftButton);
    EXPECT_TRUE(idleAfterCall(form));
    EXPECT_FALSE(form.Telefoon1()->AudioActive());
    EXPECT_TRUE(waitUntil([&] { return peerEvents.contains(QStringLiteral("Ended: Connection ended.")); }));
}

TEST_F(Calls, MenuItemsActOnlyWhileEnabled)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    ui.StartConnection->setEnabled(false);
    QTest::mouseClick(ui.btnOnOff, Qt::LeftButton);
    EXPECT_TRUE(ui.btnOnOff->isChecked());
    EXPECT_FALSE(form.Telefoon1()->Calling());
    EXPECT_FALSE(ui.Led1->Value());
    EXPECT_EQ(form.statusText(), QString());
    EXPECT_EQ(messages.beeps, 0);

    // Stop is disabled while idle: the button going up changes nothing else either.
    QTest::mouseClick(ui.btnOnOff, Qt::LeftButton);
    EXPECT_FALSE(ui.btnOnOff->isChecked());
    EXPECT_EQ(form.statusText(), QString());
    EXPECT_EQ(messages.beeps, 0);
}

TEST_F(Calls, EnterAddsTheTypedTextAndEmptiesTheBox)
{
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    for (const char *typed : { "10.0.0.9", "0.9.9.9", "10.0.0.9" }) {
        ui.ComboBox1->lineEdit()->clear();
        QTest::keyClicks(ui.ComboBox1->lineEdit(), QLatin1String(typed));
        QTest::keyClick(ui.ComboBox1->lineEdit(), Qt::Key_Return);
        EXPECT_EQ(ui.ComboBox1->currentText(), QString());
    }
    QStringList items;
    for (int i = 0; i < ui.ComboBox1->count(); ++i)
        items << ui.ComboBox1->itemText(i);
    EXPECT_EQ(items, (QStringList { "0.9.9.9", "10.0.0.9", "10.0.0.9", "127.0.0.1" }));

    // A call now goes to an empty address, which the call component cannot send to: reported, and
    // the window stays usable.
    QTest::mouseClick(ui.btnOnOff, Qt::LeftButton);
    EXPECT_EQ(form.Telefoon1()->Remote_IP(), QString());
    EXPECT_EQ(errors.messages().size(), 1);
    EXPECT_FALSE(ui.Led1->Value());
}

TEST_F(Calls, IncomingCallIsAnsweredAndStopMessagesEndIt)
{
    listenToBroadcasts();
    app::TForm1 &form = start(environment());
    const Ui::TForm1 &ui = form.controls();
    call::TTelefoon &caller = peer();
    caller.CallTo(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return peerEvents.contains(QStringLiteral("Accepted: Connected")); }));
    EXPECT_TRUE(inCall(form));
    EXPECT_EQ(ui.lblRemoteIP->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ui.lblRemotePort->text(), QString::number(caller.Local_Port()));
    EXPECT_EQ(form.Telefoon1()->Volume(), 49);

    // Another copy ends its call: this one ends its own and tells the others once more.
    form.MailSlot1NewMessage(nullptr, QStringLiteral("OTHER"), QStringLiteral("user"), QStringLiteral("Stop\r\n"));
    EXPECT_TRUE(idleAfterCall(form));
    ASSERT_TRUE(waitUntil([&] { return peerEvents.contains(QStringLiteral("Ended: Connection ended.")); }))
        << peerEvents.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(waitForBroadcast(QStringLiteral("Stop")));

    // While idle a "Stop" changes nothing but the address box, which shows the list's first entry.
    const int beeps = messages.beeps;
    ui.ComboBox1->setEditText(QStringLiteral("typed"));
    form.MailSlot1NewMessage(nullptr, QStringLiteral("OTHER"), QStringLiteral("user"), QStringLiteral("Stopped\r\n"));
    EXPECT_TRUE(idleAfterCall(form));
    EXPECT_EQ(messages.beeps, beeps);
    EXPECT_EQ(ui.ComboBox1->currentText(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(errors.messages(), QStringList());
}

TEST_F(Calls, ClosingDuringACallEndsItAndLeavesTheLan)
{
    listenToBroadcasts();
    app::TForm1 &form = start(environment());
    form.setAttribute(Qt::WA_DeleteOnClose);
    peer().CallTo(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return inCall(form); }));
    const QByteArray settings = storedSettings();
    broadcasts.clear();

    form.controls().btnExit->click();
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }));
    EXPECT_TRUE(waitUntil([&] { return peerEvents.contains(QStringLiteral("Ended: Connection ended.")); }));
    EXPECT_TRUE(waitForBroadcast(QStringLiteral("Resend")));
    EXPECT_FALSE(peer().AudioActive());
    EXPECT_EQ(storedSettings(), settings);
    EXPECT_EQ(errors.messages(), QStringList());
}

TEST_F(Calls, EndOfSessionClosesTheWindow)
{
    listenToBroadcasts();
    app::TForm1 &form = start(environment());
    form.show();
    broadcasts.clear();
    EXPECT_TRUE(form.QueryEndSession());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Telefoon1(), nullptr);
    EXPECT_TRUE(waitForBroadcast(QStringLiteral("Resend")));
}

} // namespace
