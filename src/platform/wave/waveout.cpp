#include "platform/wave/devicecommon.h"
#include "platform/wave/samplering.h"
#include "platform/wave/waveapi.h"

#include "framework/noticesink.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

namespace wave {

// A playback device: this device's worker thread decodes the written buffers into the feed; the
// backend's thread plays from it. A buffer is done once the device has played its last sample.
// Every member below the mutex is guarded by it.
class WaveOutDevice
{
public:
    WaveOutDevice(std::shared_ptr<WaveBackend> backend, std::unique_ptr<acm::Codec> codec, framework::NoticeSink *sink)
        : m_backend(std::move(backend))
        , m_codec(std::move(codec))
        , m_sink(sink)
        , m_feed(ringCapacity(m_codec->pcmRate()))
        , m_decoded(std::max<std::size_t>(m_codec->blockFrames(), 2048))
    { }

    ~WaveOutDevice()
    {
        if (m_stream)
            m_stream->stop();
        {
            std::lock_guard lock(m_mutex);
            m_quitting = true;
        }
        m_wake.notify_all();
        if (m_worker.joinable())
            m_worker.join();
    }

    MMRESULT open(const DeviceRequest &request)
    {
        MMRESULT result = m_backend->openOutput(request, m_feed, m_stream);
        if (result == MMSYSERR_NOERROR)
            result = m_stream->start();
        if (result != MMSYSERR_NOERROR)
            return result;
        m_worker = std::thread([this] { run(); });
        return MMSYSERR_NOERROR;
    }

    WaveBackend &backend() { return *m_backend; }

    // Under the device's lock: the worker thread writes the flags of queued headers.
    void prepare(WAVEHDR *header)
    {
        std::lock_guard lock(m_mutex);
        header->dwFlags |= WHDR_PREPARED;
    }

    MMRESULT unprepare(WAVEHDR *header)
    {
        std::lock_guard lock(m_mutex);
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    PlaybackFeed &feed() { return m_feed; }

    MMRESULT write(WAVEHDR *header)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!(header->dwFlags & WHDR_PREPARED))
                return WAVERR_UNPREPARED;
            if (header->dwFlags & WHDR_INQUEUE)
                return WAVERR_STILLPLAYING;
            if (m_stopped) {
                if (const MMRESULT result = m_stream->start())
                    return result;
                m_stopped = false;
            }
            header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
            const bool sound = !(header->dwFlags & WHDR_NOSOUND);
            m_queue.push_back(Waiting { header, sound });
            if (sound)
                m_waitingSamples += wholeBlocks(header) * m_codec->blockFrames();
            keepWithinBound();
            decodeLocked();
        }
        m_wake.notify_all();
        return MMSYSERR_NOERROR;
    }

    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_stream->stop();
        m_stopped = true;
        m_feed.ring().clear();
        m_feed.resetPlayed();
        m_decodedTotal = 0;
        m_frontOffset = 0;
        m_waitingSamples = 0;
        // Device order: what was being played first, then what was still waiting.
        for (const Playing &entry : m_playing)
            complete(entry.header);
        m_playing.clear();
        for (const Waiting &waiting : m_queue)
            complete(waiting.header);
        m_queue.clear();
    }

    bool hasQueued()
    {
        std::lock_guard lock(m_mutex);
        return !m_queue.empty() || !m_playing.empty();
    }

    void postNotice(uint32_t message, WAVEHDR *header = nullptr)
    {
        if (m_sink)
            m_sink->post(message, uintptr_t(this), intptr_t(header));
    }

    WaveOutStats stats()
    {
        std::lock_guard lock(m_mutex);
        WaveOutStats stats = m_stats;
        stats.underruns = m_feed.underruns();
        stats.queuedSamples = m_feed.ring().readable() + m_waitingSamples;
        return stats;
    }

private:
    struct Waiting
    {
        WAVEHDR *header;
        bool sound; // false: decoded only (WHDR_NOSOUND, or dropped to keep within the bound)
    };

    struct Playing
    {
        WAVEHDR *header;
        uint64_t end; // the buffer is played when the device has played this many samples
    };

    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quitting) {
            m_wake.wait_for(lock, std::chrono::milliseconds(4));
            if (m_quitting)
                break;
            decodeLocked();
            const uint64_t played = m_feed.played();
            while (!m_playing.empty() && m_playing.front().end <= played) {
                complete(m_playing.front().header);
                m_playing.pop_front();
            }
        }
    }

    std::size_t wholeBlocks(const WAVEHDR *header) const { return header->dwBufferLength / m_codec->blockBytes(); }

    // Beyond kMaxQueuedPlaybackMs of sound waiting to be played, the oldest buffers not yet
    // decoded lose their sound (they are still decoded, for the codec's sake); the newest one
    // always keeps it.
    void keepWithinBound()
    {
        const std::size_t bound = std::size_t(uint64_t(m_codec->pcmRate()) * kMaxQueuedPlaybackMs / 1000);
        const std::size_t frames = m_codec->blockFrames();
        for (std::size_t i = 0; i + 1 < m_queue.size(); ++i) {
            if (m_feed.ring().readable() + m_waitingSamples <= bound)
                return;
            Waiting &waiting = m_queue[i];
            if (!waiting.sound)
                continue;
            const std::size_t done = i == 0 ? m_frontOffset / m_codec->blockBytes() : 0;
            m_waitingSamples -= (wholeBlocks(waiting.header) - done) * frames;
            waiting.sound = false;
            ++m_stats.overflowBuffers;
        }
    }

    // Moves as much of the written sound into the feed as it has room for. Each buffer is decoded
    // on its own: its whole blocks, in order; a partial block at its end is dropped. A buffer
    // marked WHDR_NOSOUND is decoded all the same and its sound thrown away.
    void decodeLocked()
    {
        const std::size_t frames = m_codec->blockFrames();
        const std::size_t bytes = m_codec->blockBytes();
        const std::size_t scratchBlocks = m_decoded.size() / frames;
        while (!m_queue.empty()) {
            WAVEHDR *header = m_queue.front().header;
            const bool sound = m_queue.front().sound;
            const uint8_t *data = reinterpret_cast<const uint8_t *>(header->lpData);
            const std::size_t whole = wholeBlocks(header) * bytes;
            while (m_frontOffset < whole) {
                const std::size_t room = sound ? m_feed.ring().writable() / frames : scratchBlocks;
                const std::size_t blocks = std::min({ (whole - m_frontOffset) / bytes, room, scratchBlocks });
                if (blocks == 0)
                    return; // the feed is full: go on when the device has played some
                decodeBlocks(data + m_frontOffset, blocks, sound);
                m_frontOffset += blocks * bytes;
                if (sound)
                    m_waitingSamples -= blocks * frames;
            }
            if (whole != header->dwBufferLength)
                ++m_stats.partialTails;
            m_frontOffset = 0;
            m_queue.pop_front();
            m_playing.push_back(Playing { header, m_decodedTotal });
        }
    }

    void decodeBlocks(const uint8_t *data, std::size_t blocks, bool sound)
    {
        const std::size_t samples = blocks * m_codec->blockFrames();
        m_codec->decode(data, blocks, m_decoded.data());
        if (!sound)
            return;
        m_feed.ring().write(m_decoded.data(), samples);
        m_decodedTotal += samples;
    }

    void complete(WAVEHDR *header)
    {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        postNotice(MM_WOM_DONE, header);
    }

    std::shared_ptr<WaveBackend> m_backend;
    std::unique_ptr<acm::Codec> m_codec;
    framework::NoticeSink *m_sink;
    PlaybackFeed m_feed;
    std::unique_ptr<BackendStream> m_stream;
    std::thread m_worker;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Waiting> m_queue; // written, not yet wholly decoded; the front from m_frontOffset on
    std::size_t m_frontOffset = 0;
    std::size_t m_waitingSamples = 0; // the sound of m_queue still to be decoded
    std::deque<Playing> m_playing; // decoded, waiting to be heard
    std::vector<int16_t> m_decoded;
    WaveOutStats m_stats;
    uint64_t m_decodedTotal = 0;
    bool m_stopped = false;
    bool m_quitting = false;
};

namespace {

HandleRegistry &outputs()
{
    static HandleRegistry registry;
    return registry;
}

} // namespace

MMRESULT waveOutOpen(HWAVEOUT *handle, uint32_t deviceId, const TACMWaveFormat *format, framework::NoticeSink *callback,
    uintptr_t instance, uint32_t flags)
{
    (void)instance;
    return openDevice(false, handle, deviceId, format, callback, flags, outputs(), MM_WOM_OPEN);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize)
{
    if (const MMRESULT result = checkHeaderCall(outputs(), handle, header, headerSize, WaveOp::OutPrepareHeader))
        return result;
    handle->prepare(header);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize)
{
    if (const MMRESULT result = checkHeaderCall(outputs(), handle, header, headerSize, WaveOp::OutUnprepareHeader))
        return result;
    return handle->unprepare(header);
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR *header, uint32_t headerSize)
{
    if (const MMRESULT result = checkHeaderCall(outputs(), handle, header, headerSize, WaveOp::OutWrite))
        return result;
    return handle->write(header);
}

MMRESULT waveOutReset(HWAVEOUT handle)
{
    if (!outputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    handle->reset();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle)
{
    if (!outputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    if (handle->hasQueued())
        return WAVERR_STILLPLAYING;
    outputs().remove(handle);
    handle->postNotice(MM_WOM_CLOSE);
    delete handle;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT handle, uint32_t volume)
{
    if (!outputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    handle->feed().setVolume(volume);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT handle, uint32_t *volume)
{
    if (!outputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    if (!volume)
        return MMSYSERR_INVALPARAM;
    *volume = handle->feed().volume();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetStats(HWAVEOUT handle, WaveOutStats *stats)
{
    if (!outputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    if (!stats)
        return MMSYSERR_INVALPARAM;
    *stats = handle->stats();
    return MMSYSERR_NOERROR;
}

unsigned waveOutGetNumDevs()
{
    return currentBackend()->outputDeviceCount();
}

} // namespace wave
