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

// Data: the recorded bytes, valid only during the call (null when Size is 0).
using TBufferFullEvent = std::function<void(QObject *Sender, const void *Data, int Size)>;

// Records from the sound input device in a caller-chosen wave format (compressed formats go
// through the mapper's codec) and hands every filled buffer to OnBufferFull. GUI thread only:
// completions arrive as MM_WIM_DATA notices on the thread that created the component.
class TACMIn : public framework::TComponent
{
    Q_OBJECT

public:
    // TACMBufferCount: the buffers queued at Open, 2..64.
    static constexpr uint8_t kMinBuffers = 2;
    static constexpr uint8_t kMaxBuffers = 64;

    explicit TACMIn(QObject *owner = nullptr);
    ~TACMIn() override;

    // Opens the input device in format, queues NumBuffers buffers and starts recording. Does
    // nothing while active. Raises EACMIn; the component is then inactive with nothing held.
    void Open(const wave::TACMWaveFormat &format);
    // Stops recording and releases the device and every buffer. Does nothing while inactive.
    void Close();
    bool Active() const { return m_active; }

    // Bytes per capture buffer; default 8192. Ignored while active.
    uint32_t BufferSize() const { return m_bufferSize; }
    void setBufferSize(uint32_t size);
    // Default 4; a value outside 2..64 raises framework::ERangeError. Ignored while active.
    uint8_t NumBuffers() const { return m_numBuffers; }
    void setNumBuffers(int count);

    TBufferFullEvent OnBufferFull;

    // The format of the last Open, the open device (null while closed), the buffers held.
    const wave::TACMWaveFormat &format() const { return m_format; }
    wave::HWAVEIN deviceHandle() const { return m_device; }
    std::size_t bufferCount() const { return m_buffers.size(); }
    framework::NoticeSink *noticeSink() const { return m_window.get(); }

private:
    struct Buffer
    {
        wave::WAVEHDR header;
        std::unique_ptr<char[]> data;
    };

    void handleNotice(const framework::Notice &notice);
    void bufferFull(wave::WAVEHDR *header);
    Buffer *findBuffer(const wave::WAVEHDR *header);
    void releaseAfterFailedOpen();
    // The error rule: nothing for 0; otherwise close (if active) and raise EACMIn.
    void ReportError(const QString &operation, wave::MMRESULT code);

    bool m_active = false;
    std::vector<std::unique_ptr<Buffer>> m_buffers;
    uint32_t m_bufferSize = 8192;
    wave::TACMWaveFormat m_format {};
    uint8_t m_numBuffers = 4;
    std::unique_ptr<framework::NoticeSink> m_window;
    wave::HWAVEIN m_device = nullptr;
    uint64_t m_generation = 0; // counts opens and closes, to notice them from inside an event
};

} // namespace audio
