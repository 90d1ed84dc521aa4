#include "peeroptions.h"
#include "peerpresence.h"

#include "platform/wave/fakebackend.h"

#include "support/printers.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

using peer::parsePeerOptions;

namespace {

peer::ParseResult parse(QStringList arguments)
{
    arguments.prepend("tobrel-peer");
    return parsePeerOptions(arguments);
}

} // namespace

TEST(PeerOptions, DefaultsListenOnTheIntercomPortAndAnswer)
{
    const auto result = parse({});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->port, 49217);
    EXPECT_EQ(result.options->remotePort, 49217);
    EXPECT_EQ(result.options->pingPort, 8001);
    EXPECT_EQ(result.options->codec, call::Tverbinding::GSM610);
    EXPECT_TRUE(result.options->autoAnswer);
    EXPECT_FALSE(result.options->mute);
    EXPECT_EQ(result.options->durationSeconds, 0);
    EXPECT_TRUE(result.options->callAddress.isEmpty());
    EXPECT_TRUE(result.options->presence);
    EXPECT_FALSE(result.options->listOnly);
}

TEST(PeerOptions, PresenceCanBeLeftOutOrListedOnce)
{
    const auto quiet = parse({ "--no-presence", "--call", "10.99.0.2" });
    ASSERT_TRUE(quiet.options);
    EXPECT_FALSE(quiet.options->presence);
    const auto list = parse({ "--list" });
    ASSERT_TRUE(list.options);
    EXPECT_TRUE(list.options->presence);
    EXPECT_TRUE(list.options->listOnly);
}

TEST(PeerOptions, ACallWithItsSettings)
{
    QTemporaryFile in, out;
    ASSERT_TRUE(in.open());
    const auto result = parse({ "--call", "10.99.0.2", "--port", "50000", "--remote-port", "49217", "--codec", "PCM8",
        "--mute", "--duration", "3", "--input", in.fileName(), "--output", "/tmp/x.wav", "--volume", "40" });
    ASSERT_TRUE(result.options) << result.message.toStdString();
    EXPECT_EQ(result.options->callAddress, "10.99.0.2");
    EXPECT_EQ(result.options->port, 50000);
    EXPECT_EQ(result.options->remotePort, 49217);
    EXPECT_EQ(result.options->codec, call::Tverbinding::PCM8);
    EXPECT_TRUE(result.options->mute);
    EXPECT_EQ(result.options->durationSeconds, 3);
    EXPECT_EQ(result.options->volume, 40);
}

TEST(PeerOptions, HelpIsShownAndExitsWell)
{
    const auto result = parse({ "--help" });
    EXPECT_FALSE(result.options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.message.contains("--call"));
    EXPECT_TRUE(result.message.simplified().contains("lh4 and lh8 have no codec driver on this system"));
    EXPECT_TRUE(result.message.contains("Exit status:"));
    EXPECT_TRUE(result.message.contains("text <message>"));
}

TEST(PeerOptions, WhatAScriptAsksFor)
{
    const auto result = parse({ "--ping", "10.0.0.2", "--ping-port", "9000", "--remote-ping-port", "9001", "--call",
        "10.0.0.2", "--text", "Door open", "--stay" });
    ASSERT_TRUE(result.options) << result.message.toStdString();
    EXPECT_EQ(result.options->remotePingPort, 9001);
    EXPECT_EQ(result.options->text, "Door open");
    EXPECT_TRUE(result.options->stay);
    EXPECT_EQ(parse({ "--ping-port", "9000" }).options->remotePingPort, 9000) << "the same as --ping-port";
    const auto rejecting = parse({ "--reject" });
    ASSERT_TRUE(rejecting.options);
    EXPECT_TRUE(rejecting.options->reject);
    EXPECT_FALSE(rejecting.options->autoAnswer);
}

TEST(PeerOptions, BadArgumentsAreExplained)
{
    struct Case
    {
        QStringList arguments;
        const char *explanation;
    };
    const Case cases[] = {
        { { "--port", "0" }, "--port must be a number from 1 to 65535." },
        { { "--port", "70000" }, "--port must be a number from 1 to 65535." },
        { { "--port", "abc" }, "--port must be a number from 1 to 65535." },
        { { "--remote-port", "-1" }, "--remote-port must be a number from 1 to 65535." },
        { { "--ping-port", "49217" }, "--ping-port must differ from --port." },
        { { "--codec", "mp3" }, "Unknown codec 'mp3'." },
        { { "--call", " " }, "--call needs an address." },
        { { "--input", "/no/such/file.wav", "--output", "x.wav" }, "Cannot read the input file '/no/such/file.wav'." },
        { { "--output", "x.wav" }, "--input and --output go together" },
        { { "--duration", "0" }, "--duration must be a whole number of seconds, at least 1." },
        { { "--wait", "0" }, "--wait must be a number of seconds from 1 to 3600." },
        { { "--volume", "101" }, "--volume must be a number from 1 to 100." },
        { { "--bogus" }, "Unknown option 'bogus'." },
        { { "stray" }, "Unexpected argument 'stray'." },
        { { "--list", "--no-presence" }, "--list needs the presence exchange that --no-presence turns off." },
        { { "--list", "--call", "10.0.0.1" }, "--list only lists: it takes no --call, --ping or --duration." },
        { { "--list", "--duration", "5" }, "--list only lists: it takes no --call, --ping or --duration." },
        { { "--call", "10.0.0.1", "--codec", "lh4" }, "--codec lh4: there is no codec driver for it on this system" },
        { { "--codec", "LH8" }, "--codec LH8: there is no codec driver for it on this system" },
        { { "--remote-ping-port", "65536" }, "--remote-ping-port must be a number from 1 to 65535." },
        { { "--text", "~bye" }, "--text: the text may not hold the characters @ ~ ^ |." },
        { { "--reject", "--no-answer" }, "--reject and --no-answer exclude each other" },
        { { "--stay" }, "--stay keeps the peer running after --call or --ping" },
        { { "--list-devices", "--call", "10.0.0.1" },
            "--list-devices only lists: it takes no --call, --ping or --list." },
        { { "--input-device", " " }, "--input-device needs a device name." },
        { { "--output-device", "" }, "--output-device needs a device name." },
        { { "--input-device", "pulse", "--input", "/dev/null", "--output", "x.wav" },
            "--input-device names a sound device; --input and --output replace the sound devices." },
        { { "--playout", "fast" }, "--playout must be standard, adaptive or off." },
        // The address travels between marker letters: a name such as this one breaks the request.
        { { "--local-ip", "Laptop-Pc" }, "--local-ip must be a dotted IPv4 address such as 192.168.0.7." },
        { { "--local-ip", "10.0.0.07" }, "--local-ip must be a dotted IPv4 address such as 192.168.0.7." },
        { { "--local-ip", "0.0.0.0" }, "--local-ip must be a dotted IPv4 address such as 192.168.0.7." },
    };
    for (const Case &c : cases) {
        const auto result = parse(c.arguments);
        EXPECT_FALSE(result.options) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.message.startsWith(c.explanation)) << result.message.toStdString();
        EXPECT_TRUE(result.message.contains("--help"));
    }
}

TEST(PeerOptions, SoundDevicesAreListedAndChosenByName)
{
    wave::FakeBackend devices;
    devices.setDeviceNames({ "USB Headset", "Line In" }, { "HDMI" });
    EXPECT_EQ(peer::deviceListing(devices),
        "input: System default\ninput: USB Headset\ninput: Line In\noutput: System default\noutput: HDMI\n");
    EXPECT_TRUE(parse({ "--list-devices" }).options->listDevices);
    const struct
    {
        QStringList arguments;
        const char *input;
        const char *output;
        const char *problem;
    } cases[] = {
        { {}, "", "", "" },
        { { "--input-device", "Line In", "--output-device", "HDMI" }, "Line In", "HDMI", "" },
        { { "--input-device", "System default", "--output-device", "HDMI" }, "", "HDMI", "" },
        { { "--output-device", "USB Headset" }, "", "USB Headset",
            "There is no output device 'USB Headset'. --list-devices shows the devices." },
        { { "--input-device", "line in", "--output-device", "Gone" }, "line in", "Gone",
            "There is no input device 'line in'. There is no output device 'Gone'. --list-devices shows the "
            "devices." },
    };
    for (const auto &c : cases) {
        const auto result = parse(c.arguments);
        ASSERT_TRUE(result.options) << result.message.toStdString();
        EXPECT_EQ(result.options->inputDevice, c.input);
        EXPECT_EQ(result.options->outputDevice, c.output);
        EXPECT_EQ(peer::deviceProblem(*result.options, devices), c.problem);
    }
}

TEST(PeerOptions, PlayoutModes)
{
    struct Case
    {
        QStringList arguments;
        call::Playout playout;
        bool autoSynchronise;
    };
    const Case cases[] = {
        { {}, call::Playout::Designed, true },
        { { "--playout", "standard" }, call::Playout::Designed, true },
        { { "--playout", "off" }, call::Playout::Designed, false },
        { { "--playout", "Adaptive" }, call::Playout::Adaptive, true },
    };
    for (const Case &c : cases) {
        const auto result = parse(c.arguments);
        ASSERT_TRUE(result.options) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(result.options->playout, c.playout) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(result.options->autoSynchronise, c.autoSynchronise) << c.arguments.join(' ').toStdString();
    }
}

TEST(PeerOptions, CodecNames)
{
    EXPECT_EQ(peer::codecByName("gsm"), call::Tverbinding::GSM610);
    EXPECT_EQ(peer::codecByName("PCM22"), call::Tverbinding::PCM22);
    EXPECT_EQ(peer::codecByName("pcm11"), call::Tverbinding::PCM11);
    EXPECT_EQ(peer::codecByName("lh4"), call::Tverbinding::LERNOUT4);
    EXPECT_EQ(peer::codecByName("lh8"), call::Tverbinding::LERNOUT8);
    EXPECT_FALSE(peer::codecByName(""));
}

TEST(PeerPresence, ListEntriesArePrintedOnOneLineWithoutControlCharacters)
{
    EXPECT_EQ(peer::printableEntry("192.168.1.5\r\nOFFICE2"), "192.168.1.5 OFFICE2");
    EXPECT_EQ(peer::printableEntry("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(peer::printableEntry("a\rb\nc\r\n"), "a b c");
    EXPECT_EQ(peer::printableEntry("x\x1b[2Jy\tz\x7f"), "x?[2Jy?z?");
}
