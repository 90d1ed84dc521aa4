#include "roombackend.h"

#include "platform/wave/samplering.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace testsupport {

struct RoomBackend::Device
{
    bool input = true;
    uint32_t rate = 8000;
    double tone = 0;
    uint64_t onsetSample = 0;
    RoomBackend::Clock::time_point started {};
    uint64_t position = 0;
    bool running = false;
    bool closed = false;
    wave::CaptureFeed *capture = nullptr;
    wave::PlaybackFeed *playback = nullptr;
    std::vector<int16_t> recorded;
};

namespace {

class RoomStream : public wave::BackendStream
{
public:
    RoomStream(std::mutex &mutex, RoomBackend::Device &device)
        : m_mutex(mutex)
        , m_device(device)
    { }
    ~RoomStream() override { stop(); }
    wave::MMRESULT start() override
    {
        std::lock_guard lock(m_mutex);
        m_device.running = true;
        return wave::MMSYSERR_NOERROR;
    }
    void stop() noexcept override
    {
        std::lock_guard lock(m_mutex);
        m_device.running = false;
        m_device.closed = true;
    }

private:
    std::mutex &m_mutex;
    RoomBackend::Device &m_device;
};

constexpr int kTickMs = 10;

} // namespace

RoomBackend::RoomBackend(std::vector<double> inputTones, std::vector<double> inputOnsetSeconds)
    : m_tones(std::move(inputTones))
    , m_onsets(std::move(inputOnsetSeconds))
{
    m_clock = std::thread([this] { run(); });
}

RoomBackend::~RoomBackend()
{
    m_stop = true;
    m_clock.join();
}

QStringList RoomBackend::inputDeviceNames()
{
    std::lock_guard lock(m_mutex);
    return m_inputNames;
}

QStringList RoomBackend::outputDeviceNames()
{
    std::lock_guard lock(m_mutex);
    return m_outputNames;
}

void RoomBackend::setDeviceNames(const QStringList &inputs, const QStringList &outputs)
{
    std::lock_guard lock(m_mutex);
    m_inputNames = inputs;
    m_outputNames = outputs;
}

wave::MMRESULT RoomBackend::openInput(
    const wave::DeviceRequest &request, wave::CaptureFeed &feed, std::unique_ptr<wave::BackendStream> &stream)
{
    std::lock_guard lock(m_mutex);
    auto device = std::make_unique<Device>();
    device->capture = &feed;
    const std::size_t index = countInputsLocked();
    device->tone = index < m_tones.size() ? m_tones[index] : 0;
    device->onsetSample = index < m_onsets.size() ? uint64_t(m_onsets[index] * request.pcmRate) : 0;
    addLocked(std::move(device), request, stream);
    return wave::MMSYSERR_NOERROR;
}

wave::MMRESULT RoomBackend::openOutput(
    const wave::DeviceRequest &request, wave::PlaybackFeed &feed, std::unique_ptr<wave::BackendStream> &stream)
{
    std::lock_guard lock(m_mutex);
    auto device = std::make_unique<Device>();
    device->input = false;
    device->playback = &feed;
    addLocked(std::move(device), request, stream);
    return wave::MMSYSERR_NOERROR;
}

void RoomBackend::addLocked(
    std::unique_ptr<Device> device, const wave::DeviceRequest &request, std::unique_ptr<wave::BackendStream> &stream)
{
    device->rate = request.pcmRate;
    stream = std::make_unique<RoomStream>(m_mutex, *device);
    m_devices.push_back(std::move(device));
    m_opens.push_back(request);
}

std::size_t RoomBackend::countInputsLocked() const
{
    std::size_t n = 0;
    for (const auto &device : m_devices)
        n += device->input;
    return n;
}

std::size_t RoomBackend::inputCount() const
{
    std::lock_guard lock(m_mutex);
    return countInputsLocked();
}

std::size_t RoomBackend::outputCount() const
{
    std::lock_guard lock(m_mutex);
    return m_devices.size() - countInputsLocked();
}

std::vector<wave::DeviceRequest> RoomBackend::opens() const
{
    std::lock_guard lock(m_mutex);
    return m_opens;
}

const RoomBackend::Device *RoomBackend::outputLocked(std::size_t output) const
{
    std::size_t n = 0;
    for (const auto &device : m_devices) {
        if (device->input)
            continue;
        if (n++ == output)
            return device.get();
    }
    return nullptr;
}

RoomBackend::Clock::time_point RoomBackend::inputOnset(std::size_t input) const
{
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const auto &device : m_devices) {
        if (!device->input || n++ != input)
            continue;
        if (device->started == Clock::time_point {})
            return {};
        return device->started + std::chrono::microseconds(device->onsetSample * 1000000 / device->rate);
    }
    return {};
}

RoomBackend::Clock::time_point RoomBackend::outputStart(std::size_t output) const
{
    std::lock_guard lock(m_mutex);
    const Device *device = outputLocked(output);
    return device ? device->started : Clock::time_point {};
}

std::vector<int16_t> RoomBackend::recording(std::size_t output) const
{
    std::lock_guard lock(m_mutex);
    const Device *device = outputLocked(output);
    return device ? device->recorded : std::vector<int16_t> {};
}

uint32_t RoomBackend::outputRate(std::size_t output) const
{
    std::lock_guard lock(m_mutex);
    const Device *device = outputLocked(output);
    return device ? device->rate : 0;
}

void RoomBackend::run()
{
    auto next = Clock::now();
    std::vector<int16_t> block;
    while (!m_stop) {
        next += std::chrono::milliseconds(kTickMs);
        std::this_thread::sleep_until(next);
        std::lock_guard lock(m_mutex);
        for (const auto &device : m_devices) {
            if (!device->running || device->closed)
                continue;
            const std::size_t count = device->rate * kTickMs / 1000;
            if (device->started == Clock::time_point {})
                device->started = Clock::now();
            block.resize(count);
            if (device->input) {
                for (std::size_t i = 0; i < count; ++i) {
                    const uint64_t n = device->position++;
                    const double t = double(n) / device->rate;
                    block[i] = n < device->onsetSample
                        ? int16_t(0)
                        : int16_t(std::lround(kToneAmplitude * std::sin(2 * M_PI * device->tone * t)));
                }
                device->capture->push(block.data(), count);
            } else {
                device->playback->pull(block.data(), count);
                device->recorded.insert(device->recorded.end(), block.begin(), block.end());
            }
        }
    }
}

namespace {

double windowShare(const int16_t *samples, std::size_t count, double frequency, uint32_t rate)
{
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double s1 = 0, s2 = 0, total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double s = samples[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
        total += double(samples[i]) * samples[i];
    }
    if (total <= 0)
        return 0;
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    // A pure tone of n samples puts n^2/4 * A^2 into the filter and n * A^2 / 2 into the total.
    return power / (total * double(count) / 2.0);
}

} // namespace

double toneShare(const std::vector<int16_t> &samples, double frequency, uint32_t rate)
{
    // Short windows, so that the phase jump of a lost block spoils one window, not the whole.
    const std::size_t window = rate / 20;
    if (window == 0 || samples.size() < window)
        return 0;
    std::vector<double> shares;
    for (std::size_t at = 0; at + window <= samples.size(); at += window)
        shares.push_back(windowShare(samples.data() + at, window, frequency, rate));
    std::sort(shares.begin(), shares.end());
    return shares[shares.size() / 2];
}

double steadyLevel(const std::vector<int16_t> &samples, uint32_t rate)
{
    const std::size_t window = rate / 20;
    std::vector<double> levels;
    for (std::size_t at = 0; window != 0 && at + window <= samples.size(); at += window)
        levels.push_back(rms(std::vector<int16_t>(samples.begin() + long(at), samples.begin() + long(at + window))));
    if (levels.empty())
        return 0;
    std::sort(levels.begin(), levels.end());
    return levels[levels.size() / 2];
}

double rms(const std::vector<int16_t> &samples)
{
    double total = 0;
    for (int16_t sample : samples)
        total += double(sample) * sample;
    return samples.empty() ? 0 : std::sqrt(total / double(samples.size()));
}

} // namespace testsupport
