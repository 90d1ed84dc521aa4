#include "platform/wave/portaudiobackend.h"

#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

TEST(PortAudioNames, TheCardNumberIsNoPartOfADevicesName)
{
    const struct
    {
        const char *listed;
        const char *stored;
    } cases[] = {
        { "HDA Intel PCH: ALC892 Analog (hw:0,0)", "HDA Intel PCH: ALC892 Analog" },
        { "USB Audio Device: - (hw:12,3)", "USB Audio Device: -" },
        { "headset", "headset" },
        { "pulse ", "pulse" },
        { "(hw:1,0)", "(hw:1,0)" }, // nothing else to name it by
        { "Mic (hw:1,0) front", "Mic (hw:1,0) front" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(wave::PortAudioBackend::stableName(QString::fromUtf8(c.listed)), c.stored) << c.listed;
}

} // namespace
