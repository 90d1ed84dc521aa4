#include "framework/noticesink.h"
#include "platform/acm/gsmdriver.h"
#include "platform/wave/fakebackend.h"
#include "platform/wave/waveapi.h"
#include "support/eventwait.h"
#include "support/printers.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace wave;

namespace {

TACMWaveFormat pcm16()
{
    return makeWaveFormat(WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16);
}

class WaveApiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeBackend>();
        previous = setBackend(fake);
    }
    void TearDown() override
    {
        setChosenDevice(true, {});
        setChosenDevice(false, {});
        setBackend(previous);
    }

    std::vector<framework::Notice> notices;
    QThread *noticeThread = nullptr;
    framework::NoticeSink sink { "WaveApiTest", nullptr, [this](const framework::Notice &notice) {
                                    notices.push_back(notice);
                                    noticeThread = QThread::currentThread();
                                } };
    std::shared_ptr<FakeBackend> fake;
    std::shared_ptr<WaveBackend> previous;

    std::vector<framework::Notice> of(uint32_t message) const
    {
        std::vector<framework::Notice> found;
        for (const auto &notice : notices) {
            if (notice.message == message)
                found.push_back(notice);
        }
        return found;
    }
};

TEST_F(WaveApiTest, OpenChecksFlagsParametersDevicesAndFormats)
{
    const TACMWaveFormat pcm = pcm16();
    const TACMWaveFormat gsm = acm::GsmDriver::standardFormat();
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW | 0x100), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm, nullptr, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, nullptr, &sink, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&in, 1, &pcm, &sink, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    // The device speaks PCM; GSM needs the mapper.
    EXPECT_EQ(waveInOpen(&in, 0, &gsm, &sink, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    EXPECT_EQ(waveInOpen(&in, 0, &gsm, &sink, 0, CALLBACK_WINDOW | WAVE_MAPPED | WAVE_FORMAT_QUERY), 0u);
    EXPECT_TRUE(fake->opens().empty()); // a query opens nothing
    HWAVEOUT out = nullptr;
    fake->setDeviceCounts(1, 0);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_EQ(waveInGetNumDevs(), 1u);
}

TEST_F(WaveApiTest, StaleAndForeignHandlesAreRefused)
{
    const TACMWaveFormat pcm = pcm16();
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    ASSERT_EQ(waveInClose(in), 0u);
    WAVEHDR header;
    EXPECT_EQ(waveInPrepareHeader(in, &header, sizeof header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInReset(nullptr), MMSYSERR_INVALHANDLE);
    int foreign = 0;
    EXPECT_EQ(waveOutWrite(reinterpret_cast<HWAVEOUT>(&foreign), &header, sizeof header), MMSYSERR_INVALHANDLE);
    uint32_t volume = 0;
    EXPECT_EQ(waveOutGetVolume(reinterpret_cast<HWAVEOUT>(&foreign), &volume), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveApiTest, CaptureHeadersFollowThePrepareQueueUnprepareProtocol)
{
    const TACMWaveFormat pcm = pcm16();
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    std::vector<char> data(20);
    WAVEHDR header;
    header.lpData = data.data();
    header.dwBufferLength = 20;
    EXPECT_EQ(waveInAddBuffer(in, &header, sizeof header), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInPrepareHeader(in, &header, sizeof header - 1), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveInPrepareHeader(in, &header, sizeof header), 0u);
    ASSERT_EQ(waveInAddBuffer(in, &header, sizeof header), 0u);
    EXPECT_EQ(waveInAddBuffer(in, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(in, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInStart(in), 0u);
    ASSERT_TRUE(fake->capture({ 1, 2, 3 }));
    testsupport::waitUntil([] { return false; }, 30);
    // Stop hands back the partly filled buffer with what it holds.
    ASSERT_EQ(waveInStop(in), 0u);
    ASSERT_TRUE(testsupport::waitUntil([&] { return of(MM_WIM_DATA).size() == 1; }));
    EXPECT_EQ(header.dwBytesRecorded, 6u);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(of(MM_WIM_DATA)[0].wParam, uintptr_t(in));
    EXPECT_EQ(of(MM_WIM_DATA)[0].lParam, intptr_t(&header));
    EXPECT_EQ(noticeThread, QThread::currentThread());
    ASSERT_EQ(waveInUnprepareHeader(in, &header, sizeof header), 0u);
    ASSERT_EQ(waveInClose(in), 0u);
    testsupport::serveEvents(10);
    EXPECT_EQ(of(MM_WIM_OPEN).size(), 1u);
    EXPECT_EQ(of(MM_WIM_CLOSE).size(), 1u);
}

TEST_F(WaveApiTest, ResetReturnsEveryQueuedCaptureBuffer)
{
    const TACMWaveFormat pcm = pcm16();
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    std::vector<char> data(30);
    WAVEHDR headers[3];
    for (auto &header : headers) {
        header.lpData = data.data();
        header.dwBufferLength = 10;
        ASSERT_EQ(waveInPrepareHeader(in, &header, sizeof header), 0u);
        ASSERT_EQ(waveInAddBuffer(in, &header, sizeof header), 0u);
    }
    ASSERT_EQ(waveInStart(in), 0u);
    ASSERT_EQ(waveInReset(in), 0u);
    EXPECT_FALSE(fake->inputRunning());
    ASSERT_TRUE(testsupport::waitUntil([&] { return of(MM_WIM_DATA).size() == 3; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(of(MM_WIM_DATA)[i].lParam, intptr_t(&headers[i]));
        EXPECT_TRUE(headers[i].dwFlags & WHDR_DONE);
    }
    EXPECT_EQ(waveInClose(in), 0u);
}

TEST_F(WaveApiTest, PlaybackBuffersAreDoneOnlyWhenPlayed)
{
    const TACMWaveFormat pcm = pcm16();
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    int16_t first[4] = { 1, 2, 3, 4 };
    WAVEHDR a, empty, b;
    a.lpData = reinterpret_cast<char *>(first);
    a.dwBufferLength = sizeof first;
    b = a;
    EXPECT_EQ(waveOutWrite(out, &a, sizeof a), WAVERR_UNPREPARED);
    for (WAVEHDR *header : { &a, &empty, &b }) {
        ASSERT_EQ(waveOutPrepareHeader(out, header, sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(waveOutWrite(out, header, sizeof(WAVEHDR)), 0u);
    }
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    testsupport::serveEvents(30);
    EXPECT_TRUE(of(MM_WOM_DONE).empty());
    EXPECT_EQ(fake->playOut(3), (std::vector<int16_t> { 1, 2, 3 }));
    testsupport::serveEvents(30);
    EXPECT_TRUE(of(MM_WOM_DONE).empty());
    fake->playOut(1);
    // The empty buffer holds no sound: it is done with the one before it.
    ASSERT_TRUE(testsupport::waitUntil([&] { return of(MM_WOM_DONE).size() == 2; }));
    EXPECT_EQ(of(MM_WOM_DONE)[0].lParam, intptr_t(&a));
    EXPECT_EQ(of(MM_WOM_DONE)[1].lParam, intptr_t(&empty));
    EXPECT_EQ(waveOutUnprepareHeader(out, &b, sizeof b), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(out), 0u);
    ASSERT_TRUE(testsupport::waitUntil([&] { return of(MM_WOM_DONE).size() == 3; }));
    EXPECT_EQ(of(MM_WOM_DONE)[2].lParam, intptr_t(&b));
    // The reset dropped b's sound: what is written next plays at once.
    int16_t next[1] = { 7 };
    WAVEHDR c;
    c.lpData = reinterpret_cast<char *>(next);
    c.dwBufferLength = sizeof next;
    ASSERT_EQ(waveOutPrepareHeader(out, &c, sizeof c), 0u);
    ASSERT_EQ(waveOutWrite(out, &c, sizeof c), 0u);
    EXPECT_EQ(fake->playOut(2), (std::vector<int16_t> { 7, 0 }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return of(MM_WOM_DONE).size() == 4; }));
    ASSERT_EQ(waveOutClose(out), 0u);
}

TEST_F(WaveApiTest, VolumeIsPerOpenOutputAndReadsBackExactly)
{
    const TACMWaveFormat pcm = pcm16();
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    for (uint32_t word : { 0u, 0x0000FFFFu, 0xFFFE0001u, 0x12345678u, 0xFFFFFFFFu }) {
        ASSERT_EQ(waveOutSetVolume(out, word), 0u);
        uint32_t read = 1;
        ASSERT_EQ(waveOutGetVolume(out, &read), 0u);
        EXPECT_EQ(read, word);
    }
    EXPECT_EQ(waveOutGetVolume(out, nullptr), MMSYSERR_INVALPARAM);
    // Silence at volume 0.
    ASSERT_EQ(waveOutSetVolume(out, 0), 0u);
    int16_t loud[2] = { 30000, -30000 };
    WAVEHDR header;
    header.lpData = reinterpret_cast<char *>(loud);
    header.dwBufferLength = sizeof loud;
    ASSERT_EQ(waveOutPrepareHeader(out, &header, sizeof header), 0u);
    ASSERT_EQ(waveOutWrite(out, &header, sizeof header), 0u);
    EXPECT_EQ(fake->playOut(2), (std::vector<int16_t> { 0, 0 }));
    ASSERT_EQ(waveOutReset(out), 0u);
    ASSERT_EQ(waveOutClose(out), 0u);
}

TEST_F(WaveApiTest, ABusyDeviceIsReportedAsAllocated)
{
    const TACMWaveFormat pcm = pcm16();
    HWAVEIN first = nullptr, second = nullptr;
    ASSERT_EQ(waveInOpen(&first, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    EXPECT_EQ(waveInOpen(&second, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), MMSYSERR_ALLOCATED);
    ASSERT_EQ(waveInClose(first), 0u);
    ASSERT_EQ(waveInOpen(&second, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    ASSERT_EQ(waveInClose(second), 0u);
}

TEST_F(WaveApiTest, TheChosenDeviceIsAskedForByNameAndNeverReplaced)
{
    fake->setDeviceNames({ "USB Headset", "Line In" }, { "USB Headset" });
    const struct
    {
        const char *input;
        const char *output;
        MMRESULT inputResult;
        MMRESULT outputResult;
    } cases[] = {
        { "", "", MMSYSERR_NOERROR, MMSYSERR_NOERROR }, // the system default
        { "Line In", "", MMSYSERR_NOERROR, MMSYSERR_NOERROR }, // one direction alone
        { "USB Headset", "USB Headset", MMSYSERR_NOERROR, MMSYSERR_NOERROR },
        { "Line In", "Line In", MMSYSERR_NOERROR, MMSYSERR_BADDEVICEID }, // an input only
        { "usb headset", "Gone", MMSYSERR_BADDEVICEID, MMSYSERR_BADDEVICEID }, // names match exactly
    };
    const TACMWaveFormat gsm = acm::GsmDriver::standardFormat();
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.input) + " / " + c.output);
        setChosenDevice(true, QString::fromUtf8(c.input));
        setChosenDevice(false, QString::fromUtf8(c.output));
        const std::size_t opened = fake->opens().size();
        HWAVEIN in = nullptr;
        HWAVEOUT out = nullptr;
        EXPECT_EQ(waveInOpen(&in, 0, &gsm, &sink, 0, CALLBACK_WINDOW | WAVE_MAPPED), c.inputResult);
        EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &gsm, &sink, 0, CALLBACK_WINDOW), c.outputResult);
        const std::vector<DeviceRequest> opens = fake->opens();
        QStringList names;
        for (std::size_t i = opened; i < opens.size(); ++i)
            names.append((opens[i].input ? "in:" : "out:") + opens[i].deviceName);
        QStringList expected;
        if (c.inputResult == MMSYSERR_NOERROR)
            expected.append("in:" + QString::fromUtf8(c.input));
        if (c.outputResult == MMSYSERR_NOERROR)
            expected.append("out:" + QString::fromUtf8(c.output));
        EXPECT_EQ(names, expected);
        if (in) {
            EXPECT_EQ(waveInClose(in), 0u);
        }
        if (out) {
            EXPECT_EQ(waveOutClose(out), 0u);
        }
    }
}

} // namespace

namespace {

// Sound arrives and leaves in pieces that match no buffer or codec block, from a thread of its
// own, as a device callback's would: the workers sleep until the device side wakes them, and
// no wake-up may be lost.
TEST_F(WaveApiTest, DeviceThreadsWakeTheWorkersForEveryBuffer)
{
    const TACMWaveFormat gsm = acm::GsmDriver::standardFormat();
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &gsm, &sink, 0, CALLBACK_WINDOW), 0u);
    constexpr int kCaptureBuffers = 4;
    std::vector<std::vector<char>> blocks(kCaptureBuffers, std::vector<char>(gsm.format.nBlockAlign));
    std::vector<WAVEHDR> captured(kCaptureBuffers);
    for (int i = 0; i < kCaptureBuffers; ++i) {
        captured[i].lpData = blocks[i].data();
        captured[i].dwBufferLength = uint32_t(blocks[i].size());
        ASSERT_EQ(waveInPrepareHeader(in, &captured[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(waveInAddBuffer(in, &captured[i], sizeof(WAVEHDR)), 0u);
    }
    ASSERT_EQ(waveInStart(in), 0u);
    std::thread microphone([this] {
        for (int i = 0; i < 13; ++i) // 1300 samples: four 320-sample blocks
            fake->capture(std::vector<int16_t>(100, int16_t(i * 100)));
    });
    microphone.join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return int(of(MM_WIM_DATA).size()) == kCaptureBuffers; }));
    for (const WAVEHDR &header : captured)
        EXPECT_EQ(header.dwBytesRecorded, gsm.format.nBlockAlign);

    const TACMWaveFormat pcm = pcm16();
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm, &sink, 0, CALLBACK_WINDOW), 0u);
    constexpr int kPlayed = 100;
    std::vector<int16_t> sound(4 * kPlayed, 1);
    std::vector<WAVEHDR> played(kPlayed);
    std::atomic<bool> written { false };
    std::thread speaker([&] {
        std::size_t heard = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (heard < sound.size() && std::chrono::steady_clock::now() < deadline) {
            for (const int16_t sample : fake->playOut(7))
                heard += sample != 0;
            if (written && heard < sound.size())
                std::this_thread::yield();
        }
    });
    for (int i = 0; i < kPlayed; ++i) {
        played[i].lpData = reinterpret_cast<char *>(sound.data() + 4 * i);
        played[i].dwBufferLength = 8;
        ASSERT_EQ(waveOutPrepareHeader(out, &played[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(waveOutWrite(out, &played[i], sizeof(WAVEHDR)), 0u);
    }
    written = true;
    speaker.join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return int(of(MM_WOM_DONE).size()) == kPlayed; }));
    for (WAVEHDR &header : captured)
        EXPECT_EQ(waveInUnprepareHeader(in, &header, sizeof header), 0u);
    EXPECT_EQ(waveInClose(in), 0u);
    for (WAVEHDR &header : played)
        EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof header), 0u);
    EXPECT_EQ(waveOutClose(out), 0u);
}

} // namespace
