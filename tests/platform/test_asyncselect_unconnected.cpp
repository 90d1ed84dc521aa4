#include "framework/noticesink.h"
#include "platform/winsock.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <vector>

namespace ws = platform::winsock;

namespace {

constexpr uint32_t kMessage = framework::WM_USER + 101;

// A fresh stream socket under notices waits (a name look-up, for example) before it connects:
// it must not be reported closed meanwhile, and its connection must still be announced.
TEST(AsyncSelectUnconnected, AStreamSocketWaitingToConnectGetsNoCloseNotice)
{
    std::vector<long> events;
    framework::NoticeSink sink(QStringLiteral("TestUnconnectedWindow"), nullptr,
        [&](const framework::Notice &notice) { events.push_back(framework::lowWord(notice.lParam)); });
    const ws::Socket listener = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::bind(listener, htonl(INADDR_LOOPBACK), 0), 0);
    ASSERT_EQ(ws::listen(listener, 5), 0);
    sockaddr_in address {};
    ws::localName(listener, address);

    const ws::Socket socket = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::asyncSelect(socket, &sink, kMessage, 63), 0);
    testsupport::serveEvents(100);
    EXPECT_TRUE(events.empty()) << "first notice: " << events.front();

    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int result = ws::connect(socket, address);
    EXPECT_TRUE(result == 0 || ws::lastError() == ws::WSAEWOULDBLOCK);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !events.empty(); }, 3000));
    EXPECT_EQ(events.front(), ws::FD_CONNECT);
    ws::closeSocket(socket);
    ws::closeSocket(listener);
}

} // namespace
