#pragma once

#include "framework/component.h"
#include "platform/wave/mmsystem.h"
#include "platform/wave/waveapi.h"

#include <functional>
#include <memory>
#include <vector>

namespace framework {
class NoticeSink;
struct Notice;
} // namespace framework

namespace audio {

// Header: the played buffer's header, its data still attached; valid only during the call.
using TBufferPlayedEvent = std::function<void(QObject *Sender, wave::WAVEHDR *Header)>;

// Plays blocks in a caller-chosen wave format on the sound output device (compressed formats go
// through the mapper's codec). After each Open the first NumBuffers blocks are held back and the
// next one starts playback with all of them queued. The playback queue is bounded: the device
// holds at most wave::kMaxQueuedPlaybackMs (2 s) of sound; beyond it the oldest blocks not yet
// decoded go unheard (stats().overflowBuffers counts them). GUI thread only: completions arrive as
// MM_WOM_DONE notices on the thread that created the component.
class TACMOut : public framework::TComponent
{
    Q_OBJECT

public:
    explicit TACMOut(QObject *owner = nullptr);
    ~TACMOut() override;

    // Opens the output device in format. Does nothing while active. Raises EACMOut.
    void Open(const wave::TACMWaveFormat &format);
    // Copies Size bytes from Data and queues them (any length and content). Does nothing when
    // Size is not positive, Data is null or the component is inactive. Raises EACMOut, closing.
    void Play(const void *Data, int Size);
    // As Play, but the block is only decoded, in its place among the others, and not heard: the
    // way to drop sound of a codec with memory between blocks without the decoder losing step.
    // It does not count towards the blocks held back after Open.
    void Skip(const void *Data, int Size);
    // Stops playback at once and releases the device and every block. Nothing while inactive.
    void Close();
    // Holds back the next Blocks blocks of sound, as after Open, so that the queue fills again
    // before play resumes (after the device ran dry). Nothing while inactive.
    void Reprime(uint8_t Blocks);
    bool Active() const { return m_active; }

    // Blocks held back after each Open; default 4. Takes effect at the next Open.
    uint8_t NumBuffers = 4;
    TBufferPlayedEvent OnBufferPlayed;

    // The open output device, for the volume calls; null while closed.
    wave::HWAVEOUT DeviceHandle() const { return m_device; }
    // What the device counted since this Open (partial blocks dropped, underruns); zeros while
    // closed.
    wave::WaveOutStats stats() const;

    const wave::TACMWaveFormat &format() const { return m_format; }
    std::size_t bufferCount() const { return m_buffers.size(); }
    std::size_t pendingCount() const { return m_pending.size(); }
    framework::NoticeSink *noticeSink() const { return m_window.get(); }

private:
    struct Buffer
    {
        wave::WAVEHDR header;
        std::unique_ptr<char[]> data;
    };

    void queue(const void *data, int size, uint32_t flags);
    void handleNotice(const framework::Notice &notice);
    void bufferPlayed(wave::WAVEHDR *header);
    void giveToDevice(wave::WAVEHDR *header);
    void release(const wave::WAVEHDR *header);
    // The error rule: nothing for 0; otherwise close (if active) and raise EACMOut.
    void ReportError(const QString &operation, wave::MMRESULT code);

    bool m_active = false;
    uint8_t m_preRoll = 0;
    std::vector<wave::WAVEHDR *> m_pending;
    std::vector<std::unique_ptr<Buffer>> m_buffers;
    wave::TACMWaveFormat m_format {};
    std::unique_ptr<framework::NoticeSink> m_window;
    wave::HWAVEOUT m_device = nullptr;
    uint64_t m_generation = 0; // counts opens and closes, to notice them from inside an event
};

} // namespace audio
