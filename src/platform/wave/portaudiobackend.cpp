#include "platform/wave/portaudiobackend.h"

#include "platform/wave/samplering.h"

#include <QRegularExpression>

#include <chrono>

#include <portaudio.h>

#include <algorithm>

namespace wave {

namespace {

MMRESULT mapError(PaError error)
{
    switch (error) {
    case paNoError:
        return MMSYSERR_NOERROR;
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
        return WAVERR_BADFORMAT;
    case paDeviceUnavailable:
        return MMSYSERR_ALLOCATED;
    case paInsufficientMemory:
        return MMSYSERR_NOMEM;
    case paInvalidDevice:
    case paNotInitialized:
        return MMSYSERR_BADDEVICEID;
    default:
        return MMSYSERR_ERROR;
    }
}

struct StreamCloser
{
    void operator()(PaStream *stream) const { Pa_CloseStream(stream); }
};

// Called on PortAudio's thread, maybe at high priority: copies and nothing else (no allocation,
// no locks, no component code).
int captureCallback(const void *input, void *, unsigned long frames, const PaStreamCallbackTimeInfo *,
    PaStreamCallbackFlags, void *userData)
{
    if (input)
        static_cast<CaptureFeed *>(userData)->push(static_cast<const int16_t *>(input), frames);
    return paContinue;
}

int playbackCallback(const void *, void *output, unsigned long frames, const PaStreamCallbackTimeInfo *,
    PaStreamCallbackFlags, void *userData)
{
    static_cast<PlaybackFeed *>(userData)->pull(static_cast<int16_t *>(output), frames);
    return paContinue;
}

class PortAudioStream : public BackendStream
{
public:
    PortAudioStream(PaStream *stream, std::shared_ptr<std::atomic<int>> openStreams)
        : m_stream(stream)
        , m_openStreams(std::move(openStreams))
    {
        ++*m_openStreams;
    }
    ~PortAudioStream() override
    {
        stop();
        m_stream.reset();
        --*m_openStreams;
    }

    MMRESULT start() override
    {
        if (Pa_IsStreamActive(m_stream.get()) == 1)
            return MMSYSERR_NOERROR;
        return mapError(Pa_StartStream(m_stream.get()));
    }

    void stop() noexcept override
    {
        // Abort, not stop: a stream whose device never called back would block a stop for good.
        if (Pa_IsStreamStopped(m_stream.get()) == 0)
            Pa_AbortStream(m_stream.get());
    }

private:
    std::unique_ptr<PaStream, StreamCloser> m_stream;
    std::shared_ptr<std::atomic<int>> m_openStreams; // the backend's count of open streams
};

} // namespace

PortAudioBackend::PortAudioBackend(double latencySeconds)
    : m_latency(latencySeconds)
    , m_initialized(Pa_Initialize() == paNoError)
    , m_scannedAt(std::chrono::steady_clock::now())
{ }

PortAudioBackend::~PortAudioBackend()
{
    std::lock_guard lock(m_mutex);
    if (m_initialized)
        Pa_Terminate();
}

QString PortAudioBackend::name() const
{
    return QStringLiteral("PortAudio");
}

unsigned PortAudioBackend::inputDeviceCount()
{
    std::lock_guard lock(m_mutex);
    return m_initialized && (Pa_GetDefaultInputDevice() != paNoDevice || !devices(true).empty()) ? 1 : 0;
}

unsigned PortAudioBackend::outputDeviceCount()
{
    std::lock_guard lock(m_mutex);
    return m_initialized && (Pa_GetDefaultOutputDevice() != paNoDevice || !devices(false).empty()) ? 1 : 0;
}

QStringList PortAudioBackend::inputDeviceNames()
{
    return deviceNames(true);
}

QStringList PortAudioBackend::outputDeviceNames()
{
    return deviceNames(false);
}

QStringList PortAudioBackend::deviceNames(bool input)
{
    std::lock_guard lock(m_mutex);
    rescan();
    QStringList names;
    for (const NamedDevice &device : devices(input))
        names << device.name;
    return names;
}

QString PortAudioBackend::stableName(const QString &portAudioName)
{
    static const QRegularExpression cardNumber(QStringLiteral(R"(\s*\(hw:\d+(,\d+)?\)\s*$)"));
    QString name = portAudioName;
    name.remove(cardNumber);
    name = name.trimmed();
    return name.isEmpty() ? portAudioName.trimmed() : name;
}

void PortAudioBackend::rescan()
{
    // A list taken a moment ago is new enough; each scan costs ALSA a probe of every device.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_scannedAt < std::chrono::seconds(1) || *m_openStreams != 0)
        return;
    if (m_initialized)
        Pa_Terminate();
    m_initialized = Pa_Initialize() == paNoError;
    m_scannedAt = now;
}

std::vector<PortAudioBackend::NamedDevice> PortAudioBackend::devices(bool input) const
{
    std::vector<NamedDevice> found;
    if (!m_initialized)
        return found;
    const PaHostApiIndex hostApi = Pa_GetDefaultHostApi();
    const PaDeviceIndex defaultDevice = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    QStringList seen;
    for (PaDeviceIndex index = 0; index < Pa_GetDeviceCount(); ++index) {
        const PaDeviceInfo *info = Pa_GetDeviceInfo(index);
        if (!info || info->hostApi != hostApi || (input ? info->maxInputChannels : info->maxOutputChannels) < 1)
            continue;
        const QString base = stableName(QString::fromUtf8(info->name));
        seen << base;
        if (index == defaultDevice)
            continue;
        const qsizetype repeat = seen.count(base);
        found.push_back({ repeat == 1 ? base : QStringLiteral("%1 #%2").arg(base).arg(repeat), index });
    }
    return found;
}

MMRESULT PortAudioBackend::openInput(
    const DeviceRequest &request, CaptureFeed &feed, std::unique_ptr<BackendStream> &stream)
{
    return open(request, &feed, nullptr, stream);
}

MMRESULT PortAudioBackend::openOutput(
    const DeviceRequest &request, PlaybackFeed &feed, std::unique_ptr<BackendStream> &stream)
{
    return open(request, nullptr, &feed, stream);
}

MMRESULT PortAudioBackend::open(
    const DeviceRequest &request, CaptureFeed *capture, PlaybackFeed *playback, std::unique_ptr<BackendStream> &stream)
{
    const bool input = capture != nullptr;
    std::lock_guard lock(m_mutex);
    if (!m_initialized)
        return MMSYSERR_BADDEVICEID;
    PaStreamParameters parameters {};
    parameters.device = paNoDevice;
    if (request.deviceName.isEmpty()) {
        parameters.device = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    } else {
        auto lookUp = [&] {
            for (const NamedDevice &device : devices(input)) {
                if (device.name == request.deviceName)
                    return device.index;
            }
            return PaDeviceIndex(paNoDevice);
        };
        parameters.device = lookUp();
        // Plugged in since PortAudio last looked?
        if (parameters.device == paNoDevice) {
            rescan();
            if (!m_initialized)
                return MMSYSERR_BADDEVICEID;
            parameters.device = lookUp();
        }
    }
    if (parameters.device == paNoDevice)
        return MMSYSERR_BADDEVICEID;
    parameters.channelCount = 1;
    parameters.sampleFormat = paInt16;
    parameters.suggestedLatency = request.latencySeconds > 0 ? request.latencySeconds : m_latency;
    // Two callback periods per latency: each callback wakes a device worker and, through the sound
    // server's plugin, more threads; fewer, larger periods cost less CPU and the latency is the
    // same. Left to itself PortAudio calls back far more often.
    const auto frames = std::max<unsigned long>(64, (unsigned long)(parameters.suggestedLatency * request.pcmRate / 2));
    PaStream *opened = nullptr;
    const PaError error = capture
        ? Pa_OpenStream(&opened, &parameters, nullptr, request.pcmRate, frames, paNoFlag, captureCallback, capture)
        : Pa_OpenStream(&opened, nullptr, &parameters, request.pcmRate, frames, paNoFlag, playbackCallback, playback);
    if (error != paNoError)
        return mapError(error);
    if (const PaStreamInfo *info = Pa_GetStreamInfo(opened)) {
        if (capture)
            m_inputLatency = info->inputLatency;
        else
            m_outputLatency = info->outputLatency;
    }
    stream = std::make_unique<PortAudioStream>(opened, m_openStreams);
    return MMSYSERR_NOERROR;
}

} // namespace wave
