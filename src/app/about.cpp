#include "app/about.h"

#include "ui_about.h"

#include "call/telefoon.h"
#include "controls/linklabel.h"
#include "framework/application.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

static void initAboutResources()
{
    Q_INIT_RESOURCE(app);
}

namespace app {

const QString TAboutBox::kWebsite = QStringLiteral("https://tobrel.example.org/");

QIcon programIcon()
{
    initAboutResources();
    return QIcon(QStringLiteral(":/app/tobrel.png"));
}

TAboutBox::TAboutBox(QWidget *mainWindow)
    : QDialog(mainWindow)
    , ui(std::make_unique<Ui::TAboutBox>())
    , m_mainWindow(mainWindow)
{
    ui->setupUi(this);
    // A dialog frame with its system menu only: no minimise, maximise or help buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());

    QPalette panel = ui->Panel1->palette();
    panel.setColor(QPalette::Window, QColor(0, 225, 225));
    ui->Panel1->setPalette(panel);
    ui->ProgramIcon->setPixmap(programIcon().pixmap(128, 128));

    auto link = [](controls::TLinkLabel *label, controls::LinkType kind, const QString &hint, const QString &address) {
        label->setChoose(kind);
        label->setToolTip(hint);
        label->setURLorEMAIL(address);
        label->setFixedSize(label->size()); // the layout keeps the width the text asks for
    };
    link(ui->LinkLabel2, controls::ltEMAIL, QStringLiteral("Send feedback"), call::TTelefoon::kAuthorEmail);
    link(ui->LinkLabel1, controls::ltURL, QStringLiteral("Visit website"), kWebsite);

    connect(ui->OKButton, &QPushButton::clicked, this, [this] { framework::guard(this, [this] { OKButtonClick(); }); });
    FormCreate();
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate()
{
    ui->lblProductName->setText(QStringLiteral("Tobrel"));
    ui->lblVersion->setText(QStringLiteral("v  1.3"));
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAboutBox::OKButtonClick()
{
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
    accept();
}

} // namespace app
