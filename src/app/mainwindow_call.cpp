// The call controls of the main window: on/off, the call component's events, mute, duplex, the
// speak/listen switch, volume and codec choice.

#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "call/telefoon.h"
#include "controls/led.h"
#include "controls/slider.h"
#include "framework/application.h"
#include "presence/networklist.h"

#include <QRegularExpression>

namespace app {

namespace {

const QString kConnected = QStringLiteral(" Connected");
const QString kNoConnection = QStringLiteral(" No Connection");
const QString kNoAddress = QStringLiteral("0.0.0.0");
const QString kNoPort = QStringLiteral("0000");

// Codec numbers 1..6 as the settings file and the Codecs menu name them.
struct CodecItem
{
    QAction *Ui::TForm1::*item;
    call::Tverbinding connection;
};
constexpr CodecItem kCodecs[] = {
    { &Ui::TForm1::GSM6100, call::Tverbinding::GSM610 },
    { &Ui::TForm1::LH4, call::Tverbinding::LERNOUT4 },
    { &Ui::TForm1::LH8, call::Tverbinding::LERNOUT8 },
    { &Ui::TForm1::PCM80, call::Tverbinding::PCM8 },
    { &Ui::TForm1::PCM110, call::Tverbinding::PCM11 },
    { &Ui::TForm1::PCM220, call::Tverbinding::PCM22 },
};

// What a one-line static text shows of a text: its first line. A network list entry holds the
// computer's name on a second line.
QString firstLine(const QString &text)
{
    const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    return end < 0 ? text : text.left(end);
}

} // namespace

void TForm1::btnOnOffClick()
{
    click(ui->btnOnOff->isChecked() ? ui->StartConnection : ui->StopConnection);
    if (m_telefoon)
        m_telefoon->setVolume(ui->VolumeSlider->Value());
}

void TForm1::StartConnectionClick()
{
    StartCall();
}

void TForm1::StartCall()
{
    if (!m_telefoon || m_telefoon->Calling())
        return;
    framework::Beep();
    m_telefoon->CallTo(ui->ComboBox1->currentText());
    ui->btnOnOff->setChecked(true);
    ui->Led1->setValue(true);
    ui->StopConnection->setEnabled(true);
    ui->StartConnection->setEnabled(false);
    setStatusText(kConnected);
}

void TForm1::StopConnectionClick()
{
    sendPresence(presence::kStop);
    EndCall();
}

void TForm1::EndCall()
{
    framework::Beep();
    // During a call this raises OnConnectionEnded, whose handler runs EndCall once more on the
    // then idle component.
    if (m_telefoon)
        m_telefoon->setCalling(false);
    ui->btnOnOff->setChecked(false);
    ui->Led1->setValue(false);
    setStatusText(kNoConnection);
    ui->lblRemoteIP->setText(kNoAddress);
    ui->lblRemotePort->setText(kNoPort);
    ui->StopConnection->setEnabled(false);
    ui->StartConnection->setEnabled(true);
    ui->lblLocalPort->setText(localPortText());
    applyDeviceChoice();
}

void TForm1::Telefoon1Called(QObject *, const QString &)
{
    framework::Beep();
    m_telefoon->AcceptCall();
    ui->Led1->setValue(true);
    ui->btnOnOff->setChecked(true);
    ui->StopConnection->setEnabled(true);
    ui->StartConnection->setEnabled(false);
    setStatusText(kConnected);
    ShowConnectionInfo();
}

void TForm1::Telefoon1CallAccepted(QObject *, const QString &)
{
    setStatusText(kConnected);
    ShowConnectionInfo();
}

void TForm1::Telefoon1ConnectionEnded(QObject *, const QString &)
{
    EndCall();
    ui->btnOnOff->setChecked(false);
    ui->Led1->setValue(false);
}

void TForm1::ShowConnectionInfo()
{
    ui->lblLocalPort->setText(localPortText());
    ui->lblRemoteIP->setText(firstLine(m_telefoon->Remote_IP()));
    ui->lblRemotePort->setText(QString::number(m_telefoon->Remote_Port()));
}

// Button, menu check and LED always change together: both paths end here.
void TForm1::btnMuteClick()
{
    const bool muted = ui->btnMute->isChecked();
    ui->MuteoutgoingSound1->setChecked(muted);
    ui->Led2->setValue(muted);
    applyOutgoingMute(ui->rbHalfDuplex->isChecked());
}

void TForm1::MuteoutgoingSound1Click()
{
    ui->btnMute->setChecked(!ui->btnMute->isChecked());
    btnMuteClick();
}

// The playout is kept in the settings file's extra key and used from the next call on.
void TForm1::AdaptivePlayout1Click()
{
    m_settings.Playout = ui->AdaptivePlayout1->isChecked() ? 1 : 0;
    applyPlayout();
    SaveSettings();
}

void TForm1::applyPlayout()
{
    const bool adaptive = m_settings.Playout == 1;
    ui->AdaptivePlayout1->setChecked(adaptive);
    m_telefoon->setPlayout(adaptive ? call::Playout::Adaptive : call::Playout::Designed);
}

// The mute button and the listening side of half duplex each hold the outgoing sound back; neither
// a duplex choice nor the speak/listen switch lets the microphone out while the mute button (and
// its blinking LED) say it is muted.
void TForm1::applyOutgoingMute(bool halfDuplex)
{
    const bool listening = halfDuplex && !ui->btnSpeak->isChecked();
    if (m_telefoon)
        m_telefoon->setMute(ui->btnMute->isChecked() || listening);
}

void TForm1::showHalfDuplexControls(bool halfDuplex)
{
    ui->lblListen->setEnabled(halfDuplex);
    ui->lblSpeak->setEnabled(halfDuplex);
    ui->btnSpeak->setEnabled(halfDuplex);
    ui->Led3->setFalseColor(halfDuplex ? controls::clMaroon : controls::clBtnFace);
    ui->Led4->setFalseColor(halfDuplex ? controls::clGreen : controls::clBtnFace);
}

void TForm1::rbHalfDuplexClick()
{
    showHalfDuplexControls(true);
    // Half duplex starts listening, and the switch shows it: one left down from speaking earlier
    // would read "speak" while the copy listens, and its next press would change nothing.
    ui->btnSpeak->setChecked(false);
    ui->Led3->setValue(false);
    if (m_telefoon)
        m_telefoon->setVolume(0);
    applyOutgoingMute(true);
    ui->Led4->setValue(true);
    m_settings.Mode = 2;
    SaveSettings();
}

void TForm1::rbFullDuplexClick()
{
    showHalfDuplexControls(false);
    ui->Led3->setValue(false);
    ui->Led4->setValue(false);
    applyOutgoingMute(false);
    m_settings.Mode = 1;
    SaveSettings();
}

// Only the outgoing direction is switched; playback goes on either way.
void TForm1::btnSpeakClick()
{
    const bool speak = ui->btnSpeak->isChecked();
    applyOutgoingMute(ui->rbHalfDuplex->isChecked());
    ui->Led3->setValue(speak);
    ui->Led4->setValue(!speak);
}

void TForm1::VolumeSliderChange()
{
    const int value = ui->VolumeSlider->Value();
    if (m_telefoon) {
        const int current = m_telefoon->Volume();
        if (current < 10 || current > 100)
            m_telefoon->setVolume(0);
        m_telefoon->setVolume(value);
    }
    m_settings.Volume = value;
}

void TForm1::VolumeSliderChanged()
{
    SaveSettings();
}

void TForm1::selectCodec(int codecNumber)
{
    const CodecItem &codec = kCodecs[codecNumber - 1];
    QAction *item = (*ui).*codec.item;
    item->setChecked(true);
    m_settings.Codec = codecNumber;
    if (m_telefoon)
        m_telefoon->setConnection(codec.connection);
    ui->lblCodec->setText(item->text());
    SaveSettings();
}

void TForm1::GSM6100Click()
{
    selectCodec(1);
}

void TForm1::LH4Click()
{
    selectCodec(2);
}

void TForm1::LH8Click()
{
    selectCodec(3);
}

void TForm1::PCM80Click()
{
    selectCodec(4);
}

void TForm1::PCM110Click()
{
    selectCodec(5);
}

void TForm1::PCM220Click()
{
    selectCodec(6);
}

} // namespace app
