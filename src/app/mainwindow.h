#pragma once

#include "app/settings.h"
#include "app/sounddevices.h"

#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QUrl;

namespace Ui {
class TForm1;
}
namespace call {
class TTelefoon;
}
namespace presence {
class TMailSlot;
}

namespace app {

// What a test (or a second window) may place differently from the program's defaults.
struct MainWindowEnvironment
{
    // Worked out for every read and write; empty: the program's settings file.
    std::function<QString()> settingsPath;
    QString mailBox = QStringLiteral("MailBox");
    // The call component's ping port (nothing is sent on it; only one program per machine can hold it).
    int pingPort = 8001;
    // The addresses announced, slot 0 shown as the local address.
    QStringList localIPs;
    bool useLocalIPsTable = true; // localIPs := the program's table (presence::LocalIPs())
    // The user guide, used when the file exists at start-up; nothing: the program's own guide.
    std::optional<QString> userGuide;
    // Opens a help page; empty: the desktop's browser (QDesktopServices).
    std::function<void(const QUrl &page)> openHelp;
};

// The main window: the call controls, the connection display, the network list and the duplex,
// mute, volume and codec choices, over one call component (Telefoon1) and one presence mailslot
// (MailSlot1). Its handlers keep the names they are bound under; everything runs on the GUI thread.
//
// Constructing the window runs the whole start-up (FormCreate): the settings file is read, the
// call component moved to the stored port, the duplex mode, volume and codec applied, then one
// second of serving messages and the first network refresh. Closing it (Close, File > Exit, the
// window's close box, the end of the desktop session) runs FormClose: "Resend" to the other
// copies, presence off, the call ended, the audio closed, the call component freed. With
// Qt::WA_DeleteOnClose set, the window is freed afterwards, as the program's main window is.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    explicit TForm1(MainWindowEnvironment environment = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    // The controls of the layout (mainwindow.ui).
    const Ui::TForm1 &controls() const { return *ui; }
    // Null once the window has closed.
    call::TTelefoon *Telefoon1() const { return m_telefoon; }
    presence::TMailSlot *MailSlot1() const { return m_mailSlot; }
    QLabel *lblLocalPort() const;
    // The in-memory Codec, Port, Mode and Volume.
    const Settings &settings() const { return m_settings; }
    QString settingsPath() const;
    // The call status text of the status bar (" Connected", " No Connection", empty at start).
    QString statusText() const;
    // The hidden raw presence list (ListBox1), in arrival order.
    QStringList rawList() const;

    // Writes Codec, Telefoon1's Local_Port, Mode and Volume to the settings file, then the chosen
    // sound devices. A file that
    // cannot be written is reported once through the application's error reporting; the caller's
    // action goes on.
    void SaveSettings();

    // The end of the desktop session: the session may end (true); pending messages are served and
    // the window closes as by its close box.
    bool QueryEndSession();

    // Handlers, as bound to the controls, menu items and components.
    void btnOnOffClick();
    void btnMuteClick();
    void btnSpeakClick();
    void btnExitClick();
    void btnRefreshClick();
    void rbFullDuplexClick();
    void rbHalfDuplexClick();
    void VolumeSliderChange();
    void VolumeSliderChanged();
    // True when the key was taken (Enter).
    bool ComboBox1KeyPress(QChar key);
    void Exit1Click();
    void StartConnectionClick();
    void StopConnectionClick();
    void MuteoutgoingSound1Click();
    void AdaptivePlayout1Click();
    void applyPlayout();
    void GSM6100Click();
    void LH4Click();
    void LH8Click();
    void PCM80Click();
    void PCM110Click();
    void PCM220Click();
    void PortsClick();
    // Shows the Sound Devices dialog; OK stores the choice and applies it from the next call.
    void SoundDevicesClick();
    void RefreshNetworkList1Click();
    void Help2Click();
    void HelpIndexClick();
    void About1Click();
    void Telefoon1Called(QObject *Sender, const QString &text);
    void Telefoon1CallAccepted(QObject *Sender, const QString &text);
    void Telefoon1ConnectionEnded(QObject *Sender, const QString &text);
    void MailSlot1NewMessage(QObject *Sender, const QString &Computer, const QString &UserName, const QString &Text);

    // The dialogs that "Change Port" and "About" show modally (createDialogs makes them as the
    // window's children); one freed before the window is no longer shown.
    void setDialogs(QDialog *portDialog, QDialog *aboutBox);

    // Runs a menu item's action the way a click does: only while the item is enabled.
    static void click(QAction *item);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createComponents();
    void connectControls();
    void FormCreate();
    void FormClose();
    void StartCall();
    void EndCall();
    void ShowConnectionInfo();
    void AnnounceSelf();
    void RebuildNetworkList();
    // A codec item's handler: its check, Codec, the call component's codec, lblCodec, saved.
    void selectCodec(int codecNumber);
    // Telefoon1.Mute: on while the mute button is down or half duplex is listening.
    void applyOutgoingMute(bool halfDuplex);
    // Enables or disables the speak/listen controls and sets the two small LEDs' dark colour.
    void showHalfDuplexControls(bool halfDuplex);
    void setStatusText(const QString &text);
    // Start-up: the stored devices become the choice; one that the sound system no longer lists
    // gives way to the default, with a note in the status bar (the stored name is kept).
    void useStoredDevices();
    // Hands a pending device choice to the wave layer unless a call's devices are open.
    void applyDeviceChoice();
    void setRawList(const QStringList &entries);
    void openHelp(const QString &anchor);
    void sendPresence(const QString &text);
    QString localPortText() const;

    std::unique_ptr<Ui::TForm1> ui;
    MainWindowEnvironment m_environment;
    Settings m_settings;
    DeviceSettings m_devices; // as stored: a missing device keeps its name here
    call::TTelefoon *m_telefoon = nullptr; // owned (QObject child) until FormClose frees it
    presence::TMailSlot *m_mailSlot = nullptr; // owned (QObject child)
    QLabel *m_callStatus = nullptr; // in the status bar
    bool m_closed = false;
    std::optional<DeviceChoice> m_pendingDevices; // chosen during a call, for the next one
    QString m_helpFile; // empty: no user guide
    QPointer<QDialog> m_portDialog;
    QPointer<QDialog> m_aboutBox;
};

} // namespace app
