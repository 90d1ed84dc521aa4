#include "platform/localaddresses.h"
#include "platform/winsock.h"

#include <gtest/gtest.h>

TEST(LocalAddresses, TheDefaultRouteIsFoundInTheRoutingTable)
{
    const QString table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                          "eth1\t0000630A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                          "eth0\t00000000\t0100A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(platform::defaultRouteInterface(table), "eth0");
    EXPECT_EQ(platform::defaultRouteInterface("Iface\tDestination\n"), "");
    EXPECT_EQ(platform::defaultRouteInterface(""), "");
    EXPECT_EQ(platform::defaultRouteInterface("header\ngarbage line\n\t\n"), "");
}

TEST(LocalAddresses, AreDottedAndNeverLoopbackWhenTheMachineHasAnInterface)
{
    const QStringList addresses = platform::localIPv4Addresses();
    for (const QString &address : addresses) {
        EXPECT_NE(platform::winsock::inetAddr(address), platform::winsock::kNoneAddress) << address.toStdString();
        EXPECT_EQ(platform::winsock::dottedText(platform::winsock::inetAddr(address)), address);
    }
    if (!addresses.isEmpty() && !addresses.first().startsWith("127.")) {
        for (const QString &address : addresses)
            EXPECT_FALSE(address.startsWith("127.")) << address.toStdString();
    }
    EXPECT_EQ(platform::primaryLocalIPv4Address(), addresses.value(0));
    EXPECT_FALSE(platform::localHostName().contains('.'));
}
