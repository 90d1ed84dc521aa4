#pragma once

#include "platform/wave/mmsystem.h"

#include <QString>

#include <memory>

namespace wave {

class CaptureFeed;
class PlaybackFeed;

// What a device open asks of a backend. The backend sees only 16-bit mono PCM at pcmRate; the
// mapper codes between that and the record's format.
struct DeviceRequest
{
    bool input = true;
    uint32_t deviceId = 0; // WAVE_MAPPER or a device number
    uint32_t flags = 0; // the open flags as given
    TACMWaveFormat format {};
    uint32_t pcmRate = 0; // samples per second on the device side
    double latencySeconds = 0; // the latency asked for (setRequestedLatency); 0: the backend's own
};

// One open device stream of a backend. Created stopped. Thread: the wave layer's callers.
class BackendStream
{
public:
    virtual ~BackendStream() = default;
    virtual MMRESULT start() = 0;
    // Stops at once and returns promptly, also when the device never called back. After it
    // returns the stream no longer touches its feed.
    virtual void stop() noexcept = 0;
};

// The wave operations a backend may script a result for (the fake does, for tests).
enum class WaveOp
{
    InOpen,
    InPrepareHeader,
    InUnprepareHeader,
    InAddBuffer,
    InStart,
    OutOpen,
    OutPrepareHeader,
    OutUnprepareHeader,
    OutWrite,
};

// A source of sound devices: one default input and one default output at most. Open calls come
// from the wave layer (any thread, serialised by it); feeds outlive the streams made on them.
class WaveBackend
{
public:
    virtual ~WaveBackend() = default;
    virtual QString name() const = 0;
    virtual unsigned inputDeviceCount() = 0;
    virtual unsigned outputDeviceCount() = 0;
    // MMSYSERR_ALLOCATED for a busy device, WAVERR_BADFORMAT for a rate it refuses.
    virtual MMRESULT openInput(const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream)
        = 0;
    virtual MMRESULT openOutput(
        const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream)
        = 0;
    // A result to return instead of performing op; 0 performs it. Only test backends script any.
    virtual MMRESULT scriptedResult(WaveOp op)
    {
        (void)op;
        return MMSYSERR_NOERROR;
    }
};

// The device latency the next opens ask a real backend for, in seconds; 0 (the start value) leaves
// the backend's own. Low values cost glitches on a busy machine. Thread-safe.
void setRequestedLatency(double seconds);
double requestedLatency();

// The process's backend: what setBackend installed, else PortAudio (created on first use).
// Devices keep the backend they were opened on alive until they close. Thread-safe.
std::shared_ptr<WaveBackend> currentBackend();
// Installs backend for the next opens (null: back to the PortAudio default); returns the previous
// one (null when the default had not been created).
std::shared_ptr<WaveBackend> setBackend(std::shared_ptr<WaveBackend> backend);

} // namespace wave
