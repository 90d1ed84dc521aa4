#pragma once

#include "platform/wave/backend.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

// A wave backend with any number of devices, clocked in real time: each input plays a sine tone
// of amplitude kToneAmplitude (the n-th input opened gets the n-th frequency of the list) and
// each output is recorded. Lets
// two call components in one process talk and hear each other. Thread-safe.
class RoomBackend : public wave::WaveBackend
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kToneAmplitude = 8000.0;

    // inputOnsetSeconds: when each input's tone begins, in device time from its start (silence
    // before; none given means from the start).
    explicit RoomBackend(std::vector<double> inputTones, std::vector<double> inputOnsetSeconds = {});
    ~RoomBackend() override;

    QString name() const override { return QStringLiteral("room"); }
    unsigned inputDeviceCount() override { return 1; }
    unsigned outputDeviceCount() override { return 1; }
    QStringList inputDeviceNames() override;
    QStringList outputDeviceNames() override;
    // The devices it lists by name (none at first); opens take any name.
    void setDeviceNames(const QStringList &inputs, const QStringList &outputs);
    wave::MMRESULT openInput(const wave::DeviceRequest &request, wave::CaptureFeed &feed,
        std::unique_ptr<wave::BackendStream> &stream) override;
    wave::MMRESULT openOutput(const wave::DeviceRequest &request, wave::PlaybackFeed &feed,
        std::unique_ptr<wave::BackendStream> &stream) override;

    // What the n-th output opened has played so far (silence included), at its device rate.
    std::vector<int16_t> recording(std::size_t output) const;
    uint32_t outputRate(std::size_t output) const;
    std::size_t outputCount() const;
    std::size_t inputCount() const;
    std::vector<wave::DeviceRequest> opens() const;
    // When the n-th input's tone began, and when the n-th output played its first sample (both on
    // the backend's clock; the epoch when that has not happened yet).
    Clock::time_point inputOnset(std::size_t input) const;
    Clock::time_point outputStart(std::size_t output) const;

    struct Device; // internal

private:
    void run();
    std::size_t countInputsLocked() const;
    void addLocked(std::unique_ptr<Device> device, const wave::DeviceRequest &request,
        std::unique_ptr<wave::BackendStream> &stream);
    const Device *outputLocked(std::size_t output) const;

    mutable std::mutex m_mutex;
    QStringList m_inputNames;
    QStringList m_outputNames;
    std::vector<double> m_tones;
    std::vector<double> m_onsets;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<wave::DeviceRequest> m_opens;
    std::atomic<bool> m_stop { false };
    std::thread m_clock;
};

// The power of a frequency in samples relative to their total power (0..1), by the Goertzel
// filter over 50 ms windows (the median): near 1 for a clean tone of that frequency, near 0 when
// it is absent.
double toneShare(const std::vector<int16_t> &samples, double frequency, uint32_t rate);
double rms(const std::vector<int16_t> &samples);
// The median RMS of 50 ms windows: the level of a steady sound, which a dropout in a window or
// two does not move.
double steadyLevel(const std::vector<int16_t> &samples, uint32_t rate);

} // namespace testsupport
