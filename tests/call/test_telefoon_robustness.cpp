#include "callfixture.h"

#include "call/codectable.h"
#include "call/protocol.h"
#include "framework/application.h"
#include "net/fakeresolver.h"
#include "net/udpsock.h"
#include "net/udptestpeer.h"
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using call::TTelefoon;

namespace {

QByteArray padded(const QByteArray &content)
{
    QByteArray datagram(150, '\0');
    datagram.replace(0, std::min<qsizetype>(content.size(), 150), content.left(150));
    return datagram;
}

// Datagrams in the shapes that matter: requests and messages, mutated, and random bytes of any
// size a UDP datagram can have.
class DatagramGenerator
{
public:
    explicit DatagramGenerator(uint32_t seed)
        : m_random(seed)
    { }

    QByteArray next(uint16_t callerPort)
    {
        const int kind = pick(100);
        if (kind < 45)
            return mutate(padded(pickTemplate(callerPort)));
        if (kind < 55)
            return randomBytes(150);
        if (kind < 97)
            return randomBytes(pick(2049));
        return randomBytes(2049 + pick(65507 - 2049 + 1));
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    QByteArray randomBytes(int size)
    {
        QByteArray bytes(size, '\0');
        for (char &c : bytes)
            c = char(pick(256));
        return bytes;
    }

    QByteArray pickTemplate(uint16_t callerPort)
    {
        static const char *const fields = "IPVZ@^~|T0123456789.";
        switch (pick(8)) {
        case 0:
            return QStringLiteral("I127.0.0.1P%1V%2Z%3@")
                .arg(callerPort)
                .arg(pick(10))
                .arg(pick(2) ? 'T' : 'F')
                .toLatin1();
        case 1:
            return "^Connected@";
        case 2:
            return "~Connection ended.@";
        case 3:
            return "x|y@";
        case 4:
            return "Hello@";
        case 5:
            return QStringLiteral("I127.0.0.%1P%2V%3ZF")
                .arg(pick(256))
                .arg(pick(70000))
                .arg(QChar(fields[pick(20)]))
                .toLatin1();
        case 6: {
            QByteArray text;
            for (int i = 0, n = pick(150); i < n; ++i)
                text += fields[pick(20)];
            return text;
        }
        default:
            return "I" + QByteArray::number(pick(1000)) + "P" + QByteArray::number(pick(100000)) + "V";
        }
    }

    QByteArray mutate(QByteArray datagram)
    {
        for (int i = 0, n = pick(4); i < n; ++i)
            datagram[pick(int(datagram.size()))] = char(pick(256));
        return datagram;
    }

    std::mt19937 m_random;
};

// Keeps the component's answers on this machine: a request naming a dotted address outside
// 127.0.0.0/8 is rewritten to name 127.0.0.1, so the test never sends to another host.
QByteArray keepLocal(const QByteArray &datagram)
{
    if (datagram.size() != 150 || !call::trimControl(datagram).startsWith('I'))
        return datagram;
    call::CallerSettings settings { "127.0.0.1", 0, 2, false };
    try {
        call::parseCallRequest(datagram, settings);
    } catch (...) { }
    const uint32_t address = platform::winsock::inetAddr(settings.remoteIp);
    if (address == platform::winsock::kNoneAddress || (ntohl(address) >> 24) == 127)
        return datagram;
    QByteArray safe = datagram;
    const qsizetype at = safe.indexOf('I');
    safe.replace(at, safe.size() - at, QByteArray("I127.0.0.1P1V2ZF@"));
    return padded(safe);
}

bool isTableFormat(const wave::TACMWaveFormat &format)
{
    for (int n = 0; n < 6; ++n) {
        const auto entry = call::codecFormat(uint8_t(n));
        if (entry && std::memcmp(entry->bytes(), format.bytes(), wave::TACMWaveFormat::kSize) == 0)
            return true;
    }
    return false;
}

} // namespace

TEST(TelefoonRobustness, ArbitraryDatagramsNeverCrashOrOpenAnUndefinedFormat)
{
    testsupport::ResolverGuard restoreResolver;
    auto resolver = testsupport::FakeResolver::install(); // names never resolve, nothing leaves the machine
    auto room = std::make_shared<testsupport::RoomBackend>(std::vector<double> {});
    wave::setBackend(room);
    testsupport::ExceptionRecorder errors;
    testsupport::MessageRecorder messages;
    testsupport::RawUdpSocket sender;
    const uint16_t port = testsupport::freeUdpPort();
    {
        testsupport::Side side(port, testsupport::freeUdpPort());
        TTelefoon &phone = side.phone;
        phone.setRemote_Port(sender.port());
        // Count what reaches the handler, to pace the sender and to know the test did its work.
        int handled = 0;
        int deliverable = 0;
        auto handler = phone.voiceSocket().OnDataReceived;
        phone.voiceSocket().OnDataReceived = [&](QObject *s, int n, const QString &from) {
            ++handled;
            handler(s, n, from);
        };
        DatagramGenerator generator(20261209u);
        const int total = 20000;
        for (int sent = 0; sent < total; ++sent) {
            const QByteArray datagram = keepLocal(generator.next(sender.port()));
            sender.sendTo(datagram, port);
            deliverable += datagram.size() <= 2048;
            if (sent % 25 == 24) {
                testsupport::waitUntil([&] { return handled >= deliverable; }, 500);
                if (sent % 500 == 499) { // start over from idle now and then
                    // The farewell may go to whatever address a request left; it is reported.
                    framework::guard(&phone, [&] { phone.setCalling(false); });
                    phone.SetAudioActive(false);
                    phone.setRemote_IP("127.0.0.1");
                    phone.setRemote_Port(sender.port());
                    phone.setUser_Chosen_Codec(false);
                }
            }
        }
        testsupport::waitUntil([&] { return handled >= deliverable; }, 2000);
        EXPECT_GE(handled, deliverable * 9 / 10) << "most datagrams reached the handler";
        framework::guard(&phone, [&] { phone.setCalling(false); });
        phone.SetAudioActive(false);

        // Still a working intercom: a well-formed call is answered.
        testsupport::serveEvents(50);
        while (!sender.receive(1).isNull()) { }
        sender.sendTo(call::buildCallRequest("127.0.0.1", sender.port(), 2, false), port);
        EXPECT_TRUE(testsupport::waitUntil([&] { return sender.receive(1).startsWith("^Connected"); }, 3000));
        framework::guard(&phone, [&] { phone.setCalling(false); });
        phone.SetAudioActive(false);
    }
    wave::setBackend(nullptr);

    const auto opens = room->opens();
    EXPECT_FALSE(opens.empty()) << "some requests opened the audio";
    for (const wave::DeviceRequest &open : opens)
        EXPECT_TRUE(isTableFormat(open.format)) << "tag " << open.format.format.wFormatTag;
    // What the datagrams cause is reported, never thrown past the event loop, and only as the
    // refusal of a malformed request or of a name that does not resolve.
    for (const QString &message : errors.messages())
        EXPECT_TRUE(message.startsWith("Invalid codec in call request: ")
            || message.startsWith("Invalid port in call request: ") || message.startsWith("Remote host name too long: ")
            || message.startsWith("Invalid address in call request: ") || message == "Host Lookup Canceled")
            << message.toStdString();
}
