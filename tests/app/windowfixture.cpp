#include "windowfixture.h"

#include "call/telefoon.h"
#include "net/udptestpeer.h"
#include "presence/mailslot.h"

#include "support/eventwait.h"
#include "support/files.h"

#include <QCoreApplication>

#include <arpa/inet.h>

namespace testsupport {

WindowTest::WindowTest()
    : port(freeUdpPort())
    , mailBox(QStringLiteral("W%1").arg(QCoreApplication::applicationPid() % 10000000))
{
    wave::setBackend(devices);
    m_previousTargets
        = platform::mailslot::setBroadcastTargets([] { return std::vector<uint32_t> { htonl(INADDR_LOOPBACK) }; });
    storeSettings("Port=" + QByteArray::number(port) + "\n");
}

WindowTest::~WindowTest()
{
    delete window.data();
    m_peer.reset();
    m_listener.reset();
    platform::mailslot::setBroadcastTargets(m_previousTargets);
    wave::setBackend(nullptr);
}

void WindowTest::storeSettings(const QByteArray &lines)
{
    ASSERT_TRUE(writeFile(settingsPath(), "[Voxhall Settings]\n" + lines));
}

QByteArray WindowTest::storedSettings() const
{
    return readFile(settingsPath());
}

app::MainWindowEnvironment WindowTest::environment() const
{
    app::MainWindowEnvironment environment;
    environment.settingsPath = [path = settingsPath()] { return path; };
    environment.mailBox = mailBox;
    environment.pingPort = freeUdpPort();
    environment.localIPs = { QStringLiteral("192.0.2.7"), QStringLiteral("198.51.100.9") };
    environment.useLocalIPsTable = false;
    return environment;
}

app::TForm1 &WindowTest::start(app::MainWindowEnvironment environment)
{
    window = new app::TForm1(std::move(environment));
    return *window;
}

void WindowTest::listenToBroadcasts()
{
    m_listener = std::make_unique<presence::TMailSlot>();
    m_listener->setCheckInterval(20);
    m_listener->OnNewMessage
        = [this](QObject *, const QString &, const QString &, const QString &text) { broadcasts << text.trimmed(); };
    m_listener->setMailBox(mailBox);
    m_listener->setActive(true);
    ASSERT_TRUE(m_listener->Active()) << "another holder has the box " << mailBox.toStdString();
}

bool WindowTest::waitForBroadcast(const QString &text, int timeoutMs)
{
    return waitUntil([&] { return broadcasts.contains(text); }, timeoutMs);
}

call::TTelefoon &WindowTest::peer()
{
    if (!m_peer) {
        // Its built-in ports may be taken by other tests; it moves off them at once.
        const auto report = framework::Application::setExceptionHandler([](QObject *, const QString &) {});
        m_peer = std::make_unique<call::TTelefoon>();
        framework::Application::setExceptionHandler(report);
        m_peer->setLocal_Port(freeUdpPort());
        m_peer->setLocal_Ping_Port(freeUdpPort());
        m_peer->setRemote_Port(port);
        m_peer->setLocal_IP(QStringLiteral("127.0.0.1"));
        for (auto [event, name] : { std::pair { &m_peer->OnCalled, "Called" }, { &m_peer->OnCallAccepted, "Accepted" },
                 { &m_peer->OnConnectionEnded, "Ended" }, { &m_peer->OnNoResponce, "NoAnswer" } })
            *event = [this, name](
                         QObject *, const QString &text) { peerEvents << QStringLiteral("%1: %2").arg(name, text); };
    }
    return *m_peer;
}

} // namespace testsupport
