#include "platform/acm/codec.h"
#include "platform/acm/gsmdriver.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace wave;

namespace {

std::unique_ptr<acm::Codec> open(const TACMWaveFormat &format, MMRESULT expected = MMSYSERR_NOERROR)
{
    std::unique_ptr<acm::Codec> codec;
    EXPECT_EQ(acm::openCodec(format, codec), expected);
    return codec;
}

TEST(Drivers, PcmAndGsmAreInstalledAndTheLernoutHauspieTagsAreNot)
{
    const auto &drivers = acm::installedDrivers();
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0]->formatTag(), WAVE_FORMAT_PCM);
    EXPECT_EQ(drivers[1]->formatTag(), WAVE_FORMAT_GSM610);
    EXPECT_EQ(acm::findDriver(WAVE_FORMAT_LH_CODEC_4800), nullptr);
    open(makeWaveFormat(0x1101, 1, 8000, 600, 12, 16), WAVERR_BADFORMAT);
    open(makeWaveFormat(0x1102, 1, 8000, 1850, 37, 16), WAVERR_BADFORMAT);
    // Every offered format opens.
    for (const acm::Driver *driver : drivers) {
        for (const auto &format : driver->formats())
            EXPECT_TRUE(open(format)) << acm::formatAttributes(format).toStdString();
    }
}

TEST(Drivers, PcmCodesEightBitUnsignedAndSixteenBitAtAnyRate)
{
    auto eight = open(makeWaveFormat(WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 129)); // cbSize ignored
    ASSERT_TRUE(eight);
    EXPECT_EQ(eight->pcmRate(), 22050u);
    const int16_t in[4] = { -32768, -1, 0, 32767 };
    uint8_t bytes[4];
    eight->encode(in, 4, bytes);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t> { 0, 127, 128, 255 }));
    int16_t back[4];
    eight->decode(bytes, 4, back);
    EXPECT_EQ(std::vector<int16_t>(back, back + 4), (std::vector<int16_t> { -32768, -256, 0, 32512 }));

    auto stereo16 = open(makeWaveFormat(WAVE_FORMAT_PCM, 2, 7350, 7350 * 4, 4, 16));
    ASSERT_TRUE(stereo16);
    uint8_t frame[8];
    stereo16->encode(in + 2, 2, frame);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 8), (std::vector<uint8_t> { 0, 0, 0, 0, 0xFF, 0x7F, 0xFF, 0x7F }));
    const uint8_t mixed[4] = { 0x00, 0x10, 0x00, 0x20 }; // left 4096, right 8192
    int16_t mono;
    stereo16->decode(mixed, 1, &mono);
    EXPECT_EQ(mono, 6144);
}

TEST(Drivers, InconsistentPcmFormatsAreRefused)
{
    open(makeWaveFormat(WAVE_FORMAT_PCM, 1, 8000, 8000, 2, 8), WAVERR_BADFORMAT); // block align
    open(makeWaveFormat(WAVE_FORMAT_PCM, 1, 8000, 9000, 1, 8), WAVERR_BADFORMAT); // bytes per second
    open(makeWaveFormat(WAVE_FORMAT_PCM, 1, 8000, 24000, 3, 24), WAVERR_BADFORMAT); // 24 bits
    open(makeWaveFormat(WAVE_FORMAT_PCM, 3, 8000, 24000, 3, 8), WAVERR_BADFORMAT); // three channels
    open(makeWaveFormat(WAVE_FORMAT_PCM, 1, 0, 0, 1, 8), WAVERR_BADFORMAT); // no rate
}

TEST(Drivers, GsmNeedsItsBlockLayoutAndReadsOnlyInsideTheRecord)
{
    const TACMWaveFormat standard = acm::GsmDriver::standardFormat();
    EXPECT_EQ(standard.format.nAvgBytesPerSec, 1625u);
    EXPECT_EQ(standard.format.cbSize, 2);
    EXPECT_EQ(standard.extra[0], 0x40);
    EXPECT_EQ(standard.extra[1], 0x01);
    auto codec = open(standard);
    ASSERT_TRUE(codec);
    EXPECT_EQ(codec->blockBytes(), 65u);
    EXPECT_EQ(codec->blockFrames(), 320u);

    TACMWaveFormat claimsTooMuch = standard;
    claimsTooMuch.format.cbSize = 0xFFFF; // more than the 111 bytes of room
    EXPECT_TRUE(open(claimsTooMuch));
    TACMWaveFormat noExtra = standard;
    noExtra.format.cbSize = 1;
    open(noExtra, WAVERR_BADFORMAT);
    TACMWaveFormat wrongBlock = standard;
    wrongBlock.extra[0] = 160;
    wrongBlock.extra[1] = 0;
    open(wrongBlock, WAVERR_BADFORMAT);
    TACMWaveFormat stereo = standard;
    stereo.format.nChannels = 2;
    open(stereo, WAVERR_BADFORMAT);
}

TEST(Drivers, GsmRoundTripKeepsASineAndSurvivesAnyBytes)
{
    auto encoder = open(acm::GsmDriver::standardFormat());
    auto decoder = open(acm::GsmDriver::standardFormat());
    std::vector<int16_t> sine(320 * 25);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = int16_t(12000 * std::sin(2 * M_PI * 1000 * double(i) / 8000));
    std::vector<uint8_t> coded(65 * 25);
    encoder->encode(sine.data(), 25, coded.data());
    std::vector<int16_t> back(sine.size());
    decoder->decode(coded.data(), 25, back.data());
    double signal = 0, noise = 0;
    for (std::size_t i = 320; i < sine.size(); ++i) {
        signal += double(sine[i]) * sine[i];
        noise += double(sine[i] - back[i]) * (sine[i] - back[i]);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 20.0);

    std::vector<uint8_t> noise65(65 * 4);
    for (std::size_t i = 0; i < noise65.size(); ++i)
        noise65[i] = uint8_t(i * 37 + 11);
    decoder->decode(noise65.data(), 4, back.data());
}

} // namespace
