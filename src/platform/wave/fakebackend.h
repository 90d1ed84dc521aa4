#pragma once

#include "platform/wave/backend.h"

#include <deque>
#include <mutex>
#include <vector>

namespace wave {

class FakeStream;

// A backend for unit tests: no sound, no clock. The test plays the device's part: capture()
// hands samples to the running input as a device thread would, playOut() takes what the running
// output would play. Results of wave operations can be scripted (a busy device, a failing
// prepare). Thread-safe.
class FakeBackend : public WaveBackend
{
public:
    struct OpenRecord
    {
        DeviceRequest request;
    };

    FakeBackend();
    ~FakeBackend() override;

    QString name() const override;
    unsigned inputDeviceCount() override;
    unsigned outputDeviceCount() override;
    QStringList inputDeviceNames() override;
    QStringList outputDeviceNames() override;
    MMRESULT openInput(
        const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream) override;
    MMRESULT openOutput(
        const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream) override;
    MMRESULT scriptedResult(WaveOp op) override;

    void setDeviceCounts(unsigned inputs, unsigned outputs);
    // The devices listed by name (none at first); an open naming another one fails as a missing
    // device does.
    void setDeviceNames(const QStringList &inputs, const QStringList &outputs);
    // The next call of op after skip successful ones returns result instead of running.
    void failNext(WaveOp op, MMRESULT result, int skip = 0);
    // Every call of op returns result until clearFailures().
    void failAlways(WaveOp op, MMRESULT result);
    void clearFailures();

    // Every successful backend open, in order.
    std::vector<DeviceRequest> opens() const;
    bool inputRunning() const;
    bool outputOpen() const;

    // Pushes samples into the running input stream; false when no input runs.
    bool capture(const std::vector<int16_t> &samples);
    // Takes count samples from the open output (silence where nothing is queued); empty when no
    // output is open.
    std::vector<int16_t> playOut(std::size_t count);

private:
    friend class FakeStream;
    struct Failure
    {
        WaveOp op;
        MMRESULT result;
        int skip;
        bool always;
    };

    void streamGone(FakeStream *stream);

    mutable std::mutex m_mutex;
    unsigned m_inputs = 1;
    unsigned m_outputs = 1;
    QStringList m_inputNames;
    QStringList m_outputNames;
    std::deque<Failure> m_failures;
    std::vector<DeviceRequest> m_opens;
    FakeStream *m_input = nullptr;
    FakeStream *m_output = nullptr;
};

} // namespace wave
