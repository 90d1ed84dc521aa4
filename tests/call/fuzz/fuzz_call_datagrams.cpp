// libFuzzer entry: a call component on the fake audio backend receives what the input says --
// datagrams of any size and content on its voice and ping ports, through real loopback UDP and
// its real handlers -- mixed with the user's actions (dial, hang up, answer), microphone buffers,
// an expiring no-answer timer and the format dialog's answers (chosen, cancelled, failing, or the
// call ended while it is open). Exceptions must reach the error reporting; anything else (a crash,
// a sanitizer report, devices left open without AudioActive, a device opened in a format that is
// no codec's) is a finding.
//
// The target runs in a network namespace of its own with only loopback up, so that the addresses
// named in fuzzed requests reach nobody; it refuses to run where it cannot make one.

#include "audio/soundin.h"
#include "audio/soundout.h"
#include "call/codectable.h"
#include "call/telefoon.h"
#include "framework/application.h"
#include "framework/timer.h"
#include "net/fakeresolver.h"
#include "net/udpsock.h"
#include "net/udptestpeer.h"
#include "platform/acm/formatchoose.h"
#include "platform/wave/fakebackend.h"
#include "support/counting.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "finding: %s\n", what);
        std::abort();
    }
}

bool loopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request {};
    std::strcpy(request.ifr_name, "lo");
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

// The input, read front to back; reads past its end give zeros.
class Input
{
public:
    Input(const uint8_t *data, size_t size)
        : m_data(data)
        , m_size(size)
    { }
    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    QByteArray bytes(size_t n)
    {
        n = std::min(n, m_size - std::min(m_at, m_size));
        QByteArray out(reinterpret_cast<const char *>(m_data + m_at), qsizetype(n));
        m_at += n;
        return out;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

// Where the component's own datagrams go unless a request says otherwise; emptied after each
// input without waiting.
class Sink
{
public:
    Sink()
        : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        socklen_t length = sizeof local;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length);
        m_port = ntohs(local.sin_port);
    }
    ~Sink() { ::close(m_fd); }
    uint16_t port() const { return m_port; }
    void drain()
    {
        char buffer[2048];
        while (::recv(m_fd, buffer, sizeof buffer, 0) >= 0) { }
    }

private:
    int m_fd;
    uint16_t m_port = 0;
};

struct World
{
    testsupport::RawUdpSocket stranger; // sends the fuzzed datagrams
    Sink sink;
    int reported = 0;
};

World *g_world = nullptr;
Input *g_input = nullptr; // the running input, for the dialog's answers
call::TTelefoon *g_phone = nullptr;

// Serves events until the component has handled `count` more datagrams (bounded).
void deliver(int &handled, int expected, int boundMs)
{
    QElapsedTimer timer;
    timer.start();
    while (handled < expected && timer.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

bool isTableFormat(const wave::TACMWaveFormat &format)
{
    for (uint8_t n = 0; n < 6; ++n) {
        const auto entry = call::codecFormat(n);
        if (entry && std::memcmp(entry->bytes(), format.bytes(), wave::TACMWaveFormat::kSize) == 0)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (::unshare(CLONE_NEWNET) != 0 || !loopbackUp()) {
        std::fprintf(stderr, "fuzz_call_datagrams: needs a network namespace of its own (run as root)\n");
        std::exit(2);
    }
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    (void)argc;
    new QCoreApplication(qtArgc, qtArgv);
    g_world = new World;
    framework::Application::setExceptionHandler([](QObject *, const QString &message) {
        check(!message.isEmpty(), "an empty error message");
        ++g_world->reported;
    });
    framework::Application::setShowMessageHandler([](const QString &) {});
    framework::Application::setBeepHandler([] {});
    acm::setFormatChooserUi([](const acm::FormatChoiceRequest &, wave::TACMWaveFormat &chosen) -> wave::MMRESULT {
        const uint8_t answer = g_input ? g_input->byte() : 0;
        switch (answer % 5) {
        case 1:
            return wave::ACMERR_CANCELED;
        case 2:
            return wave::MMSYSERR_NODRIVER;
        case 3: // the call ends while the dialog is open
            if (g_phone)
                framework::guard(g_phone, [] { g_phone->setCalling(false); });
            break;
        case 4: // whatever arrives meanwhile is handled
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            break;
        default:
            break;
        }
        chosen = *call::codecFormat(uint8_t(answer / 5 % 6));
        return wave::MMSYSERR_NOERROR;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &world = *g_world;
    Input input(data, size);
    g_input = &input;
    auto fake = std::make_shared<wave::FakeBackend>();
    wave::setBackend(fake);
    testsupport::FakeResolver::install(); // names never resolve
    {
        call::TTelefoon phone;
        g_phone = &phone;
        phone.setLocal_IP(QStringLiteral("127.0.0.1"));
        phone.setRemote_Port(world.sink.port());
        const uint8_t settings = input.byte();
        phone.setAuto_Answer(settings & 1);
        phone.setAdopt_Settings_Off_Caller(settings & 2);
        phone.setAuto_synchronise(settings & 4);
        phone.setMute(settings & 8);
        phone.setUser_Chosen_Codec(settings & 16);
        phone.setConnection(call::Tverbinding(settings >> 5));
        int handled = 0;
        testsupport::countCalls(phone.voiceSocket().OnDataReceived, handled);
        testsupport::countCalls(phone.pingSocket().OnDataReceived, handled);
        const uint16_t voicePort = uint16_t(phone.Local_Port());
        const uint16_t pingPort = uint16_t(phone.Local_Ping_Port());
        for (int step = 0; step < 64 && !input.empty(); ++step) {
            const uint8_t tag = input.byte();
            switch (tag % 16) {
            case 10: { // a datagram on the ping port
                const QByteArray bytes = input.bytes(input.byte());
                world.stranger.sendTo(bytes, pingPort);
                deliver(handled, handled + 1, 200);
                break;
            }
            case 11:
                framework::guard(&phone, [&] { phone.CallTo(QStringLiteral("127.0.0.1")); });
                break;
            case 12:
                framework::guard(&phone, [&] { phone.setCalling(false); });
                break;
            case 13: // a microphone buffer's worth, and the speaker plays as much
                fake->capture(std::vector<int16_t>(320, int16_t(tag << 8)));
                fake->playOut(320);
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                break;
            case 14: { // the no-answer time runs out, if it runs
                framework::TTimer &timer = phone.noAnswerTimer();
                if (timer.Enabled())
                    framework::guard(&timer, [&] { timer.OnTimer()(&timer); });
                break;
            }
            case 15:
                framework::guard(&phone, [&] {
                    if (tag & 16)
                        phone.AcceptCall();
                    else
                        phone.SetAudioActive(false);
                });
                break;
            default: { // a datagram on the voice port, 0 to 2063 bytes (over 2048 are dropped)
                const size_t length = (size_t(input.byte()) << 8 | input.byte()) % 2064;
                const QByteArray bytes = input.bytes(length);
                world.stranger.sendTo(bytes, voicePort);
                deliver(handled, handled + 1, bytes.size() > net::TUDPSock::kBufferSize ? 2 : 200);
                break;
            }
            }
            check(!phone.capture().Active() || phone.AudioActive(), "the microphone runs outside a call");
            check(!phone.playback().Active() || phone.AudioActive(), "the speaker runs outside a call");
        }
        QCoreApplication::processEvents();
        g_phone = nullptr;
    }
    QCoreApplication::processEvents();
    // The event loop would delete these on its next turn; there is none between inputs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const wave::DeviceRequest &open : fake->opens())
        check(isTableFormat(open.format), "a device opened in a format that is no codec's");
    wave::setBackend(nullptr);
    world.sink.drain();
    g_input = nullptr;
    return 0;
}
