#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "app/help.h"

#include "call/telefoon.h"
#include "controls/led.h"
#include "controls/slider.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "presence/mailslot.h"
#include "presence/networklist.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QUrl>

static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace app {

namespace {

constexpr int kWidth = 539;
constexpr int kHeight = 250;
constexpr int kStartupWaitMs = 1000;
constexpr int kNoAnswerSeconds = 5;

// Drops what reaches the application's error reporting until end() or its end of life.
class QuietErrors
{
public:
    QuietErrors()
        : m_previous(framework::Application::setExceptionHandler([](QObject *, const QString &) {}))
    { }
    ~QuietErrors() { end(); }
    void end()
    {
        if (m_active)
            framework::Application::setExceptionHandler(m_previous);
        m_active = false;
    }

private:
    framework::Application::ExceptionHandler m_previous;
    bool m_active = true;
};

} // namespace

TForm1::TForm1(MainWindowEnvironment environment, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TForm1>())
    , m_environment(std::move(environment))
{
    initAppResources();
    if (m_environment.useLocalIPsTable)
        m_environment.localIPs = presence::LocalIPs();
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_callStatus = new QLabel(ui->StatusBar1);
    ui->StatusBar1->addWidget(m_callStatus, 1);
    createComponents();
    connectControls();
    FormCreate();
}

TForm1::~TForm1()
{
    // A window freed without closing (a test, a failed start) still leaves the LAN tidy.
    if (!m_closed)
        framework::guard(this, [this] { FormClose(); });
    m_mailSlot->OnNewMessage = nullptr;
}

void TForm1::createComponents()
{
    using namespace controls;
    auto led
        = [](TLed *led, TLEDStyle style, TColor trueColor, TColor falseColor, int interval, bool blink, bool bordered) {
              led->setLEDStyle(style);
              led->setTrueColor(trueColor);
              led->setFalseColor(falseColor);
              led->setInterval(interval);
              led->setBlink(blink);
              led->setBordered(bordered);
          };
    led(ui->Led1, LEDLarge, clLime, clGreen, 250, true, true);
    ui->Led1->setShowHint(false);
    led(ui->Led2, LEDLarge, clRed, clMaroon, 500, true, true);
    led(ui->Led3, LEDSmall, clYellow, clMaroon, 1000, false, false);
    led(ui->Led4, LEDSmall, clLime, clGreen, 1000, false, false);

    ui->VolumeSlider->loadStored([slider = ui->VolumeSlider] {
        slider->setMinValue(2);
        slider->setMaxValue(100);
        slider->setIncrement(7);
        slider->setValue(50);
        slider->setTabStop(false);
    });
    ui->ComboBox1->setEditText(presence::kLoopbackEntry);

    // The component binds its built-in ports while it is made, then the design's port, and the
    // start-up moves it to the stored port at once: a report that one of those was taken would
    // only mislead (a failure of the stored port is reported when start-up binds it).
    QuietErrors quiet;
    m_telefoon = new call::TTelefoon(this);
    m_telefoon->setObjectName(QStringLiteral("Telefoon1"));
    m_telefoon->loadStored([this, &quiet] {
        call::TTelefoon *phone = m_telefoon;
        phone->setRemote_IP(presence::kLoopbackEntry);
        phone->setRemote_Port(49217);
        phone->setLocal_Port(49217);
        quiet.end();
        phone->setUser_Chosen_Codec(false);
        phone->setAuthor_Email(QString());
        phone->setAdopt_Settings_Off_Caller(true);
        phone->setAuto_Answer(true);
        phone->setLocal_Ping_Port(m_environment.pingPort);
        phone->setRemote_Ping_port(8001);
        phone->setPing_Auto_Respond(true);
        phone->setMute(false);
        phone->setAuto_synchronise(true);
        phone->setVolume(0);
        phone->setVersion(QString());
        phone->setWaitForconnectionTime(8);
    });

    m_mailSlot = new presence::TMailSlot(this);
    m_mailSlot->setObjectName(QStringLiteral("MailSlot1"));
    m_mailSlot->loadStored([this] {
        m_mailSlot->setMailBox(m_environment.mailBox);
        m_mailSlot->setActive(true);
        m_mailSlot->OnNewMessage = [this](QObject *sender, const QString &computer, const QString &user,
                                       const QString &text) { MailSlot1NewMessage(sender, computer, user, text); };
    });
}

void TForm1::connectControls()
{
    auto bind = [this](QAction *item, void (TForm1::*handler)()) {
        connect(
            item, &QAction::triggered, this, [this, handler] { framework::guard(this, [&] { (this->*handler)(); }); });
    };
    auto bindButton = [this](QAbstractButton *button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
            [this, handler] { framework::guard(this, [&] { (this->*handler)(); }); });
    };
    bindButton(ui->btnOnOff, &TForm1::btnOnOffClick);
    bindButton(ui->btnMute, &TForm1::btnMuteClick);
    bindButton(ui->btnSpeak, &TForm1::btnSpeakClick);
    bindButton(ui->btnExit, &TForm1::btnExitClick);
    bindButton(ui->btnRefresh, &TForm1::btnRefreshClick);
    // A radio button's click runs when it becomes checked, by the user or by the program, and not
    // when an already checked one is clicked again.
    auto bindRadio = [this](QAbstractButton *button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::toggled, this, [this, handler](bool checked) {
            if (checked)
                framework::guard(this, [&] { (this->*handler)(); });
        });
    };
    bindRadio(ui->rbFullDuplex, &TForm1::rbFullDuplexClick);
    bindRadio(ui->rbHalfDuplex, &TForm1::rbHalfDuplexClick);
    bind(ui->Exit1, &TForm1::Exit1Click);
    bind(ui->StartConnection, &TForm1::StartConnectionClick);
    bind(ui->StopConnection, &TForm1::StopConnectionClick);
    bind(ui->MuteoutgoingSound1, &TForm1::MuteoutgoingSound1Click);
    bind(ui->AdaptivePlayout1, &TForm1::AdaptivePlayout1Click);
    bind(ui->GSM6100, &TForm1::GSM6100Click);
    bind(ui->LH4, &TForm1::LH4Click);
    bind(ui->LH8, &TForm1::LH8Click);
    bind(ui->PCM80, &TForm1::PCM80Click);
    bind(ui->PCM110, &TForm1::PCM110Click);
    bind(ui->PCM220, &TForm1::PCM220Click);
    bind(ui->Ports, &TForm1::PortsClick);
    bind(ui->SoundDevices, &TForm1::SoundDevicesClick);
    bind(ui->RefreshNetworkList1, &TForm1::RefreshNetworkList1Click);
    bind(ui->Help2, &TForm1::Help2Click);
    bind(ui->HelpIndex, &TForm1::HelpIndexClick);
    bind(ui->About1, &TForm1::About1Click);

    ui->VolumeSlider->OnChange = [this](QObject *) { VolumeSliderChange(); };
    ui->VolumeSlider->OnChanged = [this](QObject *) { VolumeSliderChanged(); };
    ui->ComboBox1->lineEdit()->installEventFilter(this);

    m_telefoon->OnCalled = [this](QObject *sender, const QString &text) { Telefoon1Called(sender, text); };
    m_telefoon->OnCallAccepted = [this](QObject *sender, const QString &text) { Telefoon1CallAccepted(sender, text); };
    m_telefoon->OnConnectionEnded
        = [this](QObject *sender, const QString &text) { Telefoon1ConnectionEnded(sender, text); };
    // The platform's output starts every call at full level: the slider's level applies as soon as
    // the devices are open, whichever way the call came about.
    m_telefoon->OnAudioDeviceOpen
        = [this](QObject *, const QString &) { m_telefoon->setVolume(ui->VolumeSlider->Value()); };
}

void TForm1::FormCreate()
{
    // 1. Size, place, caption; the raw list and the slider's label stay out of sight.
    setFixedSize(kWidth, kHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setWindowTitle(QStringLiteral(" Tobrel"));
    ui->ListBox1->hide();
    ui->Label6->hide();

    // 2. The settings.
    m_settings = readSettings(settingsPath());
    m_devices = readDeviceSettings(settingsPath());
    useStoredDevices();

    // 3. The call component on the stored port.
    m_telefoon->setLocal_Port(m_settings.Port);
    m_telefoon->setRemote_Port(m_settings.Port);
    m_telefoon->setWaitForconnectionTime(kNoAnswerSeconds);

    // 4. The slider clamps the stored volume and reports a change through VolumeSliderChange.
    ui->VolumeSlider->setValue(m_settings.Volume);

    // 5. Checking the radio button that is not checked yet runs its click.
    if (m_settings.Mode == 1)
        ui->rbFullDuplex->setChecked(true);
    else if (m_settings.Mode == 2)
        ui->rbHalfDuplex->setChecked(true);

    // 6. The stored codec's menu item; any other number leaves the design's GSM-6.10.
    if (m_settings.Codec >= 1 && m_settings.Codec <= 6)
        selectCodec(m_settings.Codec);

    // The stored playout, beyond the design's start-up.
    applyPlayout();

    // 7. The box's own text joins its list.
    ui->ComboBox1->addItem(ui->ComboBox1->currentText());

    // 8. Messages waiting already (presence among them) are served for a second.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kStartupWaitMs)
        framework::Application::processMessages();

    // 9. The first refresh of the network list.
    click(ui->RefreshNetworkList1);

    // 10. Idle: nothing to stop. A call answered during the wait keeps its Stop command, else
    // neither the on/off button nor a "Stop" message could end it.
    if (ui->StartConnection->isEnabled())
        ui->StopConnection->setEnabled(false);

    // 11. The user guide, if there is one.
    const QString guide = m_environment.userGuide ? *m_environment.userGuide : findUserGuide();
    m_helpFile = QFileInfo(guide).isFile() ? guide : QString();

    // 12. - 14. The display.
    ui->lblCodec->setText(ui->CodecGroup->checkedAction() ? ui->CodecGroup->checkedAction()->text() : QString());
    ui->lblLocalIP->setText(m_environment.localIPs.value(0));
    ui->lblLocalPort->setText(localPortText());

    // 15. Half duplex starts listening; full duplex greys out the speak/listen controls.
    const bool halfDuplex = m_settings.Mode == 2;
    showHalfDuplexControls(halfDuplex);
    ui->Led4->setValue(halfDuplex);
    applyOutgoingMute(halfDuplex);

    ui->ComboBox1->setFocus();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (!m_closed)
        framework::guard(this, [this] { FormClose(); });
    event->accept();
}

void TForm1::FormClose()
{
    m_closed = true;
    // The other copies rebuild their lists without this one.
    sendPresence(presence::kResend);
    m_mailSlot->setActive(false);
    if (!m_telefoon)
        return;
    // Freed however the steps before it end: a failed end message must not leave the devices open.
    call::TTelefoon *phone = m_telefoon;
    const auto release = qScopeGuard([this, phone] {
        // Its destructor may still report; the window no longer listens.
        phone->OnCalled = nullptr;
        phone->OnCallAccepted = nullptr;
        phone->OnConnectionEnded = nullptr;
        phone->OnAudioDeviceOpen = nullptr;
        m_telefoon = nullptr;
        delete phone;
    });
    phone->setCalling(false);
    phone->SetAudioActive(false);
}

bool TForm1::QueryEndSession()
{
    framework::Application::processMessages();
    close();
    return true;
}

void TForm1::btnExitClick()
{
    close();
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::click(QAction *item)
{
    if (item->isEnabled())
        item->trigger();
}

QString TForm1::settingsPath() const
{
    return m_environment.settingsPath ? m_environment.settingsPath() : settingsFilePath();
}

void TForm1::SaveSettings()
{
    Settings stored = m_settings;
    if (m_telefoon)
        stored.Port = m_telefoon->Local_Port();
    const QString path = settingsPath();
    if (!writeSettings(path, stored) || !writeDeviceSettings(path, m_devices)) {
        framework::Application::handleException(
            this, std::make_exception_ptr(framework::Exception(QStringLiteral("Unable to write to %1").arg(path))));
    }
}

QLabel *TForm1::lblLocalPort() const
{
    return ui->lblLocalPort;
}

QString TForm1::localPortText() const
{
    return m_telefoon ? QString::number(m_telefoon->Local_Port()) : ui->lblLocalPort->text();
}

QString TForm1::statusText() const
{
    return m_callStatus->text();
}

void TForm1::setStatusText(const QString &text)
{
    // A start-up note gives way to the call status.
    ui->StatusBar1->clearMessage();
    m_callStatus->setText(text);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->ComboBox1->lineEdit() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            bool taken = false;
            framework::guard(this, [&] { taken = ComboBox1KeyPress(QChar(13)); });
            return taken;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::setDialogs(QDialog *portDialog, QDialog *aboutBox)
{
    m_portDialog = portDialog;
    m_aboutBox = aboutBox;
}

// The dialog's outcome is its own business: it has already done what it was asked.
void TForm1::PortsClick()
{
    if (m_portDialog)
        m_portDialog->exec();
}

void TForm1::About1Click()
{
    if (m_aboutBox)
        m_aboutBox->exec();
}

void TForm1::Help2Click()
{
    openHelp(QString());
}

void TForm1::HelpIndexClick()
{
    openHelp(QStringLiteral("index"));
}

// Without a guide the help commands do nothing, and the desktop's answer is not waited for.
void TForm1::openHelp(const QString &anchor)
{
    if (m_helpFile.isEmpty())
        return;
    QUrl page = QUrl::fromLocalFile(m_helpFile);
    if (!anchor.isEmpty())
        page.setFragment(anchor);
    if (m_environment.openHelp)
        m_environment.openHelp(page);
    else
        QDesktopServices::openUrl(page);
}

} // namespace app
