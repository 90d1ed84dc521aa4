#include "platform/wave/devicecommon.h"
#include "platform/wave/samplering.h"
#include "platform/wave/waveapi.h"

#include "framework/noticesink.h"

#include <deque>
#include <thread>
#include <vector>

namespace wave {

// A capture device: the backend's thread pushes PCM into the feed and wakes this device's worker
// thread once a block is there; the worker codes it into the queued buffers and posts each full
// one. Every member below the mutex is guarded by it.
class WaveInDevice
{
public:
    WaveInDevice(std::shared_ptr<WaveBackend> backend, std::unique_ptr<acm::Codec> codec, framework::NoticeSink *sink)
        : m_backend(std::move(backend))
        , m_codec(std::move(codec))
        , m_sink(sink)
        , m_feed(ringCapacity(m_codec->pcmRate()))
    {
        m_pcm.reserve(m_feed.ring().capacity() + m_codec->blockFrames());
    }

    ~WaveInDevice()
    {
        if (m_stream)
            m_stream->stop();
        {
            std::lock_guard lock(m_mutex);
            m_quitting = true;
        }
        m_feed.wake().post();
        if (m_worker.joinable())
            m_worker.join();
    }

    MMRESULT open(const DeviceRequest &request)
    {
        m_feed.setWakeThreshold(m_codec->blockFrames());
        const MMRESULT result = m_backend->openInput(request, m_feed, m_stream);
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

    MMRESULT add(WAVEHDR *header)
    {
        std::lock_guard lock(m_mutex);
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        m_queue.push_back(header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT start()
    {
        std::lock_guard lock(m_mutex);
        if (m_running)
            return MMSYSERR_NOERROR;
        const MMRESULT result = m_stream->start();
        if (result == MMSYSERR_NOERROR)
            m_running = true;
        return result;
    }

    void stop(bool returnAll)
    {
        std::lock_guard lock(m_mutex);
        m_stream->stop();
        m_running = false;
        // What the device had recorded up to the stop still goes into the buffers.
        pumpLocked();
        m_feed.ring().clear();
        m_pcm.clear();
        while (!m_queue.empty() && (returnAll || m_queue.front()->dwBytesRecorded != 0)) {
            completeFront();
            if (!returnAll)
                break;
        }
    }

    bool hasQueued()
    {
        std::lock_guard lock(m_mutex);
        return !m_queue.empty();
    }

    void postNotice(uint32_t message, WAVEHDR *header = nullptr)
    {
        if (m_sink)
            m_sink->post(message, uintptr_t(this), intptr_t(header));
    }

private:
    void run()
    {
        for (;;) {
            m_feed.wake().wait();
            std::lock_guard lock(m_mutex);
            if (m_quitting)
                return;
            if (m_running)
                pumpLocked();
        }
    }

    void pumpLocked()
    {
        int16_t chunk[1024];
        for (;;) {
            const std::size_t got = m_feed.ring().read(chunk, std::size(chunk));
            if (got == 0)
                break;
            m_pcm.insert(m_pcm.end(), chunk, chunk + got);
        }
        const std::size_t frames = m_codec->blockFrames();
        const std::size_t bytes = m_codec->blockBytes();
        std::size_t used = 0;
        while (m_pcm.size() - used >= frames) {
            if (!m_queue.empty()) {
                WAVEHDR *header = m_queue.front();
                const std::size_t room = header->dwBufferLength - header->dwBytesRecorded;
                if (room >= bytes) {
                    m_codec->encode(
                        m_pcm.data() + used, 1, reinterpret_cast<uint8_t *>(header->lpData) + header->dwBytesRecorded);
                    header->dwBytesRecorded += uint32_t(bytes);
                    if (room - bytes < bytes)
                        completeFront();
                } else {
                    // Too small for a single block: it comes back empty, at the pace of the sound.
                    completeFront();
                }
            }
            // Without a queued buffer the sound is lost, as on a device that has no buffer.
            used += frames;
        }
        m_pcm.erase(m_pcm.begin(), m_pcm.begin() + std::ptrdiff_t(used));
    }

    void completeFront()
    {
        WAVEHDR *header = m_queue.front();
        m_queue.pop_front();
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        postNotice(MM_WIM_DATA, header);
    }

    std::shared_ptr<WaveBackend> m_backend;
    std::unique_ptr<acm::Codec> m_codec;
    framework::NoticeSink *m_sink;
    CaptureFeed m_feed;
    std::unique_ptr<BackendStream> m_stream;
    std::thread m_worker;

    std::mutex m_mutex;
    std::deque<WAVEHDR *> m_queue;
    std::vector<int16_t> m_pcm; // recorded samples not yet coded (less than a block between passes)
    bool m_running = false;
    bool m_quitting = false;
};

namespace {

HandleRegistry &inputs()
{
    static HandleRegistry registry;
    return registry;
}

} // namespace

MMRESULT waveInOpen(HWAVEIN *handle, uint32_t deviceId, const TACMWaveFormat *format, framework::NoticeSink *callback,
    uintptr_t instance, uint32_t flags)
{
    (void)instance;
    return openDevice(true, handle, deviceId, format, callback, flags, inputs(), MM_WIM_OPEN);
}

MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize)
{
    if (const MMRESULT result = checkHeaderCall(inputs(), handle, header, headerSize, WaveOp::InPrepareHeader))
        return result;
    handle->prepare(header);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize)
{
    if (const MMRESULT result = checkHeaderCall(inputs(), handle, header, headerSize, WaveOp::InUnprepareHeader))
        return result;
    return handle->unprepare(header);
}

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR *header, uint32_t headerSize)
{
    if (const MMRESULT result = checkHeaderCall(inputs(), handle, header, headerSize, WaveOp::InAddBuffer))
        return result;
    return handle->add(header);
}

MMRESULT waveInStart(HWAVEIN handle)
{
    if (!inputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT scripted = handle->backend().scriptedResult(WaveOp::InStart))
        return scripted;
    return handle->start();
}

MMRESULT waveInStop(HWAVEIN handle)
{
    if (!inputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    handle->stop(false);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN handle)
{
    if (!inputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    handle->stop(true);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN handle)
{
    if (!inputs().contains(handle))
        return MMSYSERR_INVALHANDLE;
    if (handle->hasQueued())
        return WAVERR_STILLPLAYING;
    inputs().remove(handle);
    handle->postNotice(MM_WIM_CLOSE);
    delete handle;
    return MMSYSERR_NOERROR;
}

unsigned waveInGetNumDevs()
{
    return currentBackend()->inputDeviceCount();
}

} // namespace wave
