#pragma once

#include "platform/wave/backend.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace wave {

// The real sound devices: PortAudio's default input and output, or a device of the default host
// API chosen by its name, 16-bit mono at the device-side rate. Its callbacks only copy between
// PortAudio's buffers and the feeds.
//
// PortAudio takes its device list once, when it is initialised: to see a device plugged in since,
// listing the names and opening a name not in the list initialise it anew while no stream is open.
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
    QStringList inputDeviceNames() override;
    QStringList outputDeviceNames() override;
    MMRESULT openInput(
        const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream) override;
    MMRESULT openOutput(
        const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream) override;

    // A device's name as it is listed and stored: PortAudio's ALSA names end in the card's number,
    // " (hw:1,0)", which changes when a USB device is plugged in again or in another order; that
    // end is left out.
    static QString stableName(const QString &portAudioName);

    // The latency PortAudio reported for the last stream opened in each direction, in seconds.
    double lastInputLatency() const { return m_inputLatency.load(); }
    double lastOutputLatency() const { return m_outputLatency.load(); }

private:
    struct NamedDevice
    {
        QString name;
        int index;
    };
    // Requires m_mutex. The choosable devices of one direction, the default device itself left out
    // ("System default" stands for it); a name that repeats gets " #2", " #3", ... added.
    std::vector<NamedDevice> devices(bool input) const;
    // Requires m_mutex. Initialises PortAudio anew when no stream of this backend is open.
    void rescan();
    QStringList deviceNames(bool input);
    MMRESULT open(const DeviceRequest &request, CaptureFeed *capture, PlaybackFeed *playback,
        std::unique_ptr<BackendStream> &stream);

    double m_latency;
    std::mutex m_mutex; // PortAudio's device list and its (re)initialisation
    bool m_initialized = false;
    std::chrono::steady_clock::time_point m_scannedAt; // when PortAudio last took its device list
    std::shared_ptr<std::atomic<int>> m_openStreams = std::make_shared<std::atomic<int>>(0);
    std::atomic<double> m_inputLatency { 0 };
    std::atomic<double> m_outputLatency { 0 };
};

} // namespace wave
