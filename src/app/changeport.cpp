#include "app/changeport.h"

#include "ui_changeport.h"

#include "app/mainwindow.h"
#include "app/settings.h"
#include "call/telefoon.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "net/udpsock.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

namespace app {

namespace {

void reportInputError(QObject *sender, const QString &text)
{
    framework::Application::handleException(sender, std::make_exception_ptr(framework::Exception(text)));
}

} // namespace

TfrmChangePort::TfrmChangePort(TForm1 &mainWindow)
    : QDialog(&mainWindow)
    , ui(std::make_unique<Ui::TfrmChangePort>())
    , m_mainWindow(mainWindow)
{
    ui->setupUi(this);
    // A dialog frame with a caption and nothing else: no close box, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui->edPort->installEventFilter(this);
    auto bind = [this](QAbstractButton *button, void (TfrmChangePort::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
            [this, handler] { framework::guard(this, [&] { (this->*handler)(); }); });
    };
    bind(ui->btnOK, &TfrmChangePort::btnOKClick);
    bind(ui->btnCancel, &TfrmChangePort::btnCancelClick);
    bind(ui->btnResetDefault, &TfrmChangePort::btnResetDefaultClick);
    FormCreate();
}

TfrmChangePort::~TfrmChangePort() = default;

void TfrmChangePort::FormCreate()
{
    if (const call::TTelefoon *phone = m_mainWindow.Telefoon1())
        ui->edPort->setText(QString::number(phone->Local_Port()));
    ui->edPort->setFocus();
}

void TfrmChangePort::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    ui->edPort->setFocus();
}

bool TfrmChangePort::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->edPort && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (text.size() == 1) {
            bool passes = true;
            framework::guard(this, [&] { passes = edPortKeyPress(text.at(0)); });
            return !passes;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmChangePort::edPortKeyPress(QChar key)
{
    // Control characters are editing commands here (backspace, Ctrl+V, Enter, Esc), not entries.
    if (key.isDigit() && key.unicode() < 128)
        return true;
    if (key.unicode() < 32 || key.unicode() == 127)
        return true;
    framework::Beep();
    reportInputError(this, QStringLiteral("Invadid entry: ") + key);
    return false;
}

void TfrmChangePort::btnOKClick()
{
    const QString text = ui->edPort->text();
    const std::optional<int32_t> port = parseSettingValue(text);
    if (!port) {
        reportInputError(this, QStringLiteral("'%1' is not a valid integer value").arg(text));
        return;
    }
    if (*port < kLowestPort || *port > kHighestPort) {
        framework::Beep();
        reportInputError(this, QStringLiteral("Port must be between %1 and %2").arg(kLowestPort).arg(kHighestPort));
        if (const call::TTelefoon *phone = m_mainWindow.Telefoon1())
            ui->edPort->setText(QString::number(phone->Local_Port()));
        ui->edPort->setFocus();
        return;
    }
    if (!moveCallPort(*port)) {
        showPortInUse();
        ui->edPort->setFocus();
        return;
    }
    m_mainWindow.lblLocalPort()->setText(ui->edPort->text());
    m_mainWindow.SaveSettings();
    accept();
}

void TfrmChangePort::btnResetDefaultClick()
{
    ui->edPort->setText(QString::number(kDefaultPort));
    m_mainWindow.lblLocalPort()->setText(QString::number(kDefaultPort));
    if (!moveCallPort(kDefaultPort))
        showPortInUse();
}

void TfrmChangePort::btnCancelClick()
{
    reject();
}

bool TfrmChangePort::moveCallPort(int port)
{
    call::TTelefoon *phone = m_mainWindow.Telefoon1();
    if (!phone)
        return false;
    const int previous = phone->Local_Port();
    const bool wasBound = phone->voiceSocket().isBound();
    phone->setLocal_Port(port); // a port another program holds is reported by the socket
    if (phone->voiceSocket().isBound())
        return true;
    // Calls keep arriving on the port that worked rather than on none.
    if (wasBound && previous != port)
        phone->setLocal_Port(previous);
    return false;
}

void TfrmChangePort::showPortInUse()
{
    if (const call::TTelefoon *phone = m_mainWindow.Telefoon1()) {
        const QString inUse = QString::number(phone->Local_Port());
        ui->edPort->setText(inUse);
        m_mainWindow.lblLocalPort()->setText(inUse);
    }
}

} // namespace app
