#include "platform/acm/acmstream.h"
#include "platform/acm/formatchoose.h"
#include "platform/acm/gsmdriver.h"

#include <gtest/gtest.h>

#include <vector>

using namespace wave;
using namespace acm;

namespace {

TACMWaveFormat pcm16(uint32_t rate = 8000)
{
    return makeWaveFormat(WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16);
}

TEST(Streams, OpenChecksFormatsFlagsAndRates)
{
    const TACMWaveFormat pcm = pcm16();
    const TACMWaveFormat gsm = GsmDriver::standardFormat();
    const TACMWaveFormat lh = makeWaveFormat(0x1101, 1, 8000, 600, 12, 16);
    const TACMWaveFormat pcm11 = pcm16(11025);
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &lh, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &pcm11, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &gsm, nullptr, 0, 0, 0x80), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, nullptr, &gsm, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &pcm, &gsm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY), 0u);
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &gsm, nullptr, 0, 0, 0), 0u);
    EXPECT_EQ(acmStreamClose(stream, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamClose(stream, 0), 0u);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_INVALHANDLE);
}

TEST(Streams, SizesFollowWholeBlocks)
{
    const TACMWaveFormat pcm = pcm16();
    const TACMWaveFormat gsm = GsmDriver::standardFormat();
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &gsm, nullptr, 0, 0, 0), 0u);
    uint32_t size = 0;
    ASSERT_EQ(acmStreamSize(stream, 2048, &size, ACM_STREAMSIZEF_SOURCE), 0u); // 1024 samples
    EXPECT_EQ(size, 4u * 65);
    ASSERT_EQ(acmStreamSize(stream, 130, &size, ACM_STREAMSIZEF_DESTINATION), 0u);
    EXPECT_EQ(size, 1280u);
    EXPECT_EQ(acmStreamSize(stream, 1, &size, ACM_STREAMSIZEF_SOURCE), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamSize(stream, 2048, nullptr, 0), MMSYSERR_INVALPARAM);
    acmStreamClose(stream, 0);
    EXPECT_EQ(acmStreamSize(stream, 2048, &size, 0), MMSYSERR_INVALHANDLE);
}

// Asked for the source that fills a destination buffer, a stream names one whose conversion fits
// in it: the whole of that source converts in one call.
TEST(Streams, TheSourceForADestinationConvertsIntoIt)
{
    const TACMWaveFormat pcm8 = makeWaveFormat(WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8);
    const TACMWaveFormat gsm = GsmDriver::standardFormat();
    const struct
    {
        TACMWaveFormat from, to;
        uint32_t destination;
        MMRESULT result;
        uint32_t source;
    } cases[] = {
        { pcm16(), gsm, 130, MMSYSERR_NOERROR, 1280 }, { pcm8, gsm, 100, MMSYSERR_NOERROR, 320 },
        { gsm, pcm8, 640, MMSYSERR_NOERROR, 130 }, { gsm, pcm8, 400, MMSYSERR_NOERROR, 65 },
        { gsm, pcm16(), 1000, MMSYSERR_NOERROR, 65 },
        { gsm, pcm8, 319, ACMERR_NOTPOSSIBLE, 0 }, // not one decoded block fits
    };
    for (const auto &c : cases) {
        // The records are packed: their fields are read by value, never bound to a reference.
        SCOPED_TRACE(testing::Message() << int(c.from.format.wFormatTag) << " -> " << int(c.to.format.wFormatTag)
                                        << ", " << c.destination << " bytes");
        HACMSTREAM stream = nullptr;
        ASSERT_EQ(acmStreamOpen(&stream, nullptr, &c.from, &c.to, nullptr, 0, 0, 0), 0u);
        uint32_t source = 0;
        EXPECT_EQ(acmStreamSize(stream, c.destination, &source, ACM_STREAMSIZEF_DESTINATION), c.result);
        if (c.result == MMSYSERR_NOERROR) {
            EXPECT_EQ(source, c.source);
            std::vector<uint8_t> in(source), out(c.destination);
            ACMSTREAMHEADER header;
            header.cbStruct = sizeof header;
            header.pbSrc = in.data();
            header.cbSrcLength = source;
            header.pbDst = out.data();
            header.cbDstLength = c.destination;
            ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), 0u);
            ASSERT_EQ(acmStreamConvert(stream, &header, 0), 0u);
            EXPECT_EQ(header.cbSrcLengthUsed, source);
            acmStreamUnprepareHeader(stream, &header, 0);
        }
        acmStreamClose(stream, 0);
    }
}

TEST(Streams, HeadersMustBePreparedAndConversionCarriesPartialBlocks)
{
    const TACMWaveFormat pcm = pcm16();
    const TACMWaveFormat gsm = GsmDriver::standardFormat();
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &gsm, nullptr, 0, 0, 0), 0u);
    std::vector<int16_t> source(500, 1000);
    std::vector<uint8_t> destination(130);
    ACMSTREAMHEADER header;
    header.cbStruct = sizeof header;
    header.pbSrc = reinterpret_cast<uint8_t *>(source.data());
    header.cbSrcLength = 1000; // 500 samples: one block and 180 samples over
    header.pbDst = destination.data();
    header.cbDstLength = 130;
    EXPECT_EQ(acmStreamConvert(stream, &header, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), ACMERR_UNPREPARED);
    ACMSTREAMHEADER small = header;
    small.cbStruct = 8;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &small, 0), MMSYSERR_INVALPARAM);
    ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), 0u);
    ASSERT_EQ(acmStreamConvert(stream, &header, 0), 0u);
    EXPECT_EQ(header.cbSrcLengthUsed, 1000u);
    EXPECT_EQ(header.cbDstLengthUsed, 65u);
    header.cbSrcLength = 280; // 140 more samples complete the second block
    ASSERT_EQ(acmStreamConvert(stream, &header, 0), 0u);
    EXPECT_EQ(header.cbDstLengthUsed, 65u);
    header.cbSrcLength = 2;
    ASSERT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_END), 0u);
    EXPECT_EQ(header.cbDstLengthUsed, 65u); // padded out with silence
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), 0u);
    EXPECT_EQ(acmStreamClose(stream, 0), 0u);
}

// A conversion flagged as the start of a stream owes nothing to what the stream converted before:
// a coder with memory between blocks (GSM) starts afresh as well.
TEST(Streams, StartBeginsAfreshInBothDirections)
{
    const TACMWaveFormat gsm = GsmDriver::standardFormat();
    const TACMWaveFormat pcm = pcm16();
    std::vector<int16_t> earlier(3200), later(3200);
    for (std::size_t i = 0; i < later.size(); ++i) {
        earlier[i] = int16_t((i * 7919) % 20000 - 10000);
        later[i] = int16_t((i % 40) * 500 - 10000);
    }
    auto convert = [](HACMSTREAM stream, std::vector<uint8_t> in, uint32_t flags) {
        std::vector<uint8_t> out(in.size() * 2 + 65);
        ACMSTREAMHEADER header;
        header.cbStruct = sizeof header;
        header.pbSrc = in.data();
        header.cbSrcLength = uint32_t(in.size());
        header.pbDst = out.data();
        header.cbDstLength = uint32_t(out.size());
        EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), 0u);
        EXPECT_EQ(acmStreamConvert(stream, &header, flags), 0u);
        acmStreamUnprepareHeader(stream, &header, 0);
        out.resize(header.cbDstLengthUsed);
        return out;
    };
    auto bytes = [](const std::vector<int16_t> &samples) {
        const auto *first = reinterpret_cast<const uint8_t *>(samples.data());
        return std::vector<uint8_t>(first, first + samples.size() * 2);
    };
    HACMSTREAM encoder = nullptr, fresh = nullptr;
    ASSERT_EQ(acmStreamOpen(&encoder, nullptr, &pcm, &gsm, nullptr, 0, 0, 0), 0u);
    ASSERT_EQ(acmStreamOpen(&fresh, nullptr, &pcm, &gsm, nullptr, 0, 0, 0), 0u);
    const auto earlierGsm = convert(encoder, bytes(earlier), ACM_STREAMCONVERTF_START);
    const auto laterGsm = convert(encoder, bytes(later), ACM_STREAMCONVERTF_START);
    EXPECT_EQ(laterGsm, convert(fresh, bytes(later), ACM_STREAMCONVERTF_START)) << "encoding";
    acmStreamClose(encoder, 0);
    acmStreamClose(fresh, 0);

    HACMSTREAM decoder = nullptr;
    ASSERT_EQ(acmStreamOpen(&decoder, nullptr, &gsm, &pcm, nullptr, 0, 0, 0), 0u);
    ASSERT_EQ(acmStreamOpen(&fresh, nullptr, &gsm, &pcm, nullptr, 0, 0, 0), 0u);
    convert(decoder, earlierGsm, ACM_STREAMCONVERTF_START);
    EXPECT_EQ(convert(decoder, laterGsm, ACM_STREAMCONVERTF_START), convert(fresh, laterGsm, ACM_STREAMCONVERTF_START))
        << "decoding";
    acmStreamClose(decoder, 0);
    acmStreamClose(fresh, 0);
}

TEST(FormatChoose, ChecksTheRecordAndNeedsAnInstalledDialog)
{
    TACMWaveFormat buffer = makeWaveFormat(WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8);
    ACMFORMATCHOOSEA choose;
    choose.cbStruct = sizeof choose;
    choose.pwfx = &buffer.format;
    choose.cbwfx = TACMWaveFormat::kSize;
    const FormatChooserUi previous = setFormatChooserUi({});
    EXPECT_EQ(acmFormatChooseA(&choose), MMSYSERR_NODRIVER);
    EXPECT_EQ(acmFormatChooseA(nullptr), MMSYSERR_INVALPARAM);

    FormatChoiceRequest seen;
    TACMWaveFormat answer = GsmDriver::standardFormat();
    MMRESULT result = MMSYSERR_NOERROR;
    setFormatChooserUi([&](const FormatChoiceRequest &request, TACMWaveFormat &chosen) {
        seen = request;
        chosen = answer;
        return result;
    });
    ACMFORMATCHOOSEA badStyle = choose;
    badStyle.fdwStyle = 0x1000;
    EXPECT_EQ(acmFormatChooseA(&badStyle), MMSYSERR_INVALFLAG);

    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    ASSERT_EQ(acmFormatChooseA(&choose), 0u);
    ASSERT_TRUE(seen.initial.has_value());
    EXPECT_EQ(seen.initial->format.nSamplesPerSec, 11025u);
    EXPECT_EQ(std::memcmp(&buffer, &answer, 20), 0);
    EXPECT_STREQ(choose.szFormatTag, "GSM 6.10");

    // A buffer too small for the chosen format's extra bytes is not written past its end.
    TACMWaveFormat small = makeWaveFormat(WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8);
    choose.pwfx = &small.format;
    choose.cbwfx = 18;
    choose.fdwStyle = 0;
    EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_NOTPOSSIBLE);
    EXPECT_FALSE(seen.initial.has_value());
    EXPECT_EQ(small.format.wFormatTag, WAVE_FORMAT_PCM);

    result = ACMERR_CANCELED;
    choose.pwfx = &buffer.format;
    choose.cbwfx = TACMWaveFormat::kSize;
    EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_CANCELED);
    setFormatChooserUi(previous);
}

} // namespace
