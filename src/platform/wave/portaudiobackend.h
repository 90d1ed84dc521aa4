#pragma once

#include "platform/wave/backend.h"

#include <atomic>

namespace wave {

// The real sound devices: PortAudio's default input and output, 16-bit mono at the device-side
// rate. Its callbacks only copy between PortAudio's buffers and the feeds.
class PortAudioBackend : public WaveBackend
{
public:
    // 100 ms: well below the call's own buffering (50 ms capture buffers, four held back on
    // playback) and, on this machine's sound server, free of dropouts where 16-35 ms were not.
    static constexpr double kDefaultLatencySeconds = 0.1;

    explicit PortAudioBackend(double latencySeconds = kDefaultLatencySeconds);
    ~PortAudioBackend() override;

    QString name() const override;
    unsigned inputDeviceCount() override;
    unsigned outputDeviceCount() override;
    MMRESULT openInput(
        const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream) override;
    MMRESULT openOutput(
        const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream) override;

    // The latency PortAudio reported for the last stream opened in each direction, in seconds.
    double lastInputLatency() const { return m_inputLatency.load(); }
    double lastOutputLatency() const { return m_outputLatency.load(); }

private:
    MMRESULT open(const DeviceRequest &request, CaptureFeed *capture, PlaybackFeed *playback,
        std::unique_ptr<BackendStream> &stream);

    double m_latency;
    bool m_initialized = false;
    std::atomic<double> m_inputLatency { 0 };
    std::atomic<double> m_outputLatency { 0 };
};

} // namespace wave
