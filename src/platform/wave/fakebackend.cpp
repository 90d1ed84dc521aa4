#include "platform/wave/fakebackend.h"

#include "platform/wave/samplering.h"

namespace wave {

class FakeStream : public BackendStream
{
public:
    FakeStream(FakeBackend *owner, CaptureFeed *capture, PlaybackFeed *playback)
        : m_owner(owner)
        , m_capture(capture)
        , m_playback(playback)
    { }
    ~FakeStream() override { m_owner->streamGone(this); }

    MMRESULT start() override
    {
        std::lock_guard lock(m_owner->m_mutex);
        m_running = true;
        return MMSYSERR_NOERROR;
    }
    void stop() noexcept override
    {
        std::lock_guard lock(m_owner->m_mutex);
        m_running = false;
    }

    FakeBackend *m_owner;
    CaptureFeed *m_capture;
    PlaybackFeed *m_playback;
    bool m_running = false; // guarded by the owner's mutex
};

FakeBackend::FakeBackend() = default;

FakeBackend::~FakeBackend() = default;

QString FakeBackend::name() const
{
    return QStringLiteral("fake");
}

unsigned FakeBackend::inputDeviceCount()
{
    std::lock_guard lock(m_mutex);
    return m_inputs;
}

unsigned FakeBackend::outputDeviceCount()
{
    std::lock_guard lock(m_mutex);
    return m_outputs;
}

QStringList FakeBackend::inputDeviceNames()
{
    std::lock_guard lock(m_mutex);
    return m_inputNames;
}

QStringList FakeBackend::outputDeviceNames()
{
    std::lock_guard lock(m_mutex);
    return m_outputNames;
}

void FakeBackend::setDeviceNames(const QStringList &inputs, const QStringList &outputs)
{
    std::lock_guard lock(m_mutex);
    m_inputNames = inputs;
    m_outputNames = outputs;
}

MMRESULT FakeBackend::openInput(const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream)
{
    std::lock_guard lock(m_mutex);
    if (!request.deviceName.isEmpty() && !m_inputNames.contains(request.deviceName))
        return MMSYSERR_BADDEVICEID;
    if (m_input)
        return MMSYSERR_ALLOCATED;
    auto created = std::make_unique<FakeStream>(this, &feed, nullptr);
    m_input = created.get();
    m_opens.push_back(request);
    stream = std::move(created);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeBackend::openOutput(
    const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream)
{
    std::lock_guard lock(m_mutex);
    if (!request.deviceName.isEmpty() && !m_outputNames.contains(request.deviceName))
        return MMSYSERR_BADDEVICEID;
    if (m_output)
        return MMSYSERR_ALLOCATED;
    auto created = std::make_unique<FakeStream>(this, nullptr, &feed);
    m_output = created.get();
    m_opens.push_back(request);
    stream = std::move(created);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeBackend::scriptedResult(WaveOp op)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
        if (it->op != op)
            continue;
        if (it->always)
            return it->result;
        if (it->skip > 0) {
            --it->skip;
            return MMSYSERR_NOERROR;
        }
        const MMRESULT result = it->result;
        m_failures.erase(it);
        return result;
    }
    return MMSYSERR_NOERROR;
}

void FakeBackend::setDeviceCounts(unsigned inputs, unsigned outputs)
{
    std::lock_guard lock(m_mutex);
    m_inputs = inputs;
    m_outputs = outputs;
}

void FakeBackend::failNext(WaveOp op, MMRESULT result, int skip)
{
    std::lock_guard lock(m_mutex);
    m_failures.push_back(Failure { op, result, skip, false });
}

void FakeBackend::failAlways(WaveOp op, MMRESULT result)
{
    std::lock_guard lock(m_mutex);
    m_failures.push_back(Failure { op, result, 0, true });
}

void FakeBackend::clearFailures()
{
    std::lock_guard lock(m_mutex);
    m_failures.clear();
}

std::vector<DeviceRequest> FakeBackend::opens() const
{
    std::lock_guard lock(m_mutex);
    return m_opens;
}

bool FakeBackend::inputRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_input && m_input->m_running;
}

bool FakeBackend::outputOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_output != nullptr;
}

bool FakeBackend::capture(const std::vector<int16_t> &samples)
{
    std::lock_guard lock(m_mutex);
    if (!m_input || !m_input->m_running)
        return false;
    m_input->m_capture->push(samples.data(), samples.size());
    return true;
}

std::vector<int16_t> FakeBackend::playOut(std::size_t count)
{
    std::lock_guard lock(m_mutex);
    if (!m_output || !m_output->m_running)
        return {};
    std::vector<int16_t> out(count);
    m_output->m_playback->pull(out.data(), count);
    return out;
}

void FakeBackend::streamGone(FakeStream *stream)
{
    std::lock_guard lock(m_mutex);
    if (m_input == stream)
        m_input = nullptr;
    if (m_output == stream)
        m_output = nullptr;
}

} // namespace wave
