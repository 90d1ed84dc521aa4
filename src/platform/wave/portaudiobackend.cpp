#include "platform/wave/portaudiobackend.h"

#include "platform/wave/samplering.h"

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
    explicit PortAudioStream(PaStream *stream)
        : m_stream(stream)
    { }
    ~PortAudioStream() override { stop(); }

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
};

} // namespace

PortAudioBackend::PortAudioBackend(double latencySeconds)
    : m_latency(latencySeconds)
    , m_initialized(Pa_Initialize() == paNoError)
{ }

PortAudioBackend::~PortAudioBackend()
{
    if (m_initialized)
        Pa_Terminate();
}

QString PortAudioBackend::name() const
{
    return QStringLiteral("PortAudio");
}

unsigned PortAudioBackend::inputDeviceCount()
{
    return m_initialized && Pa_GetDefaultInputDevice() != paNoDevice ? 1 : 0;
}

unsigned PortAudioBackend::outputDeviceCount()
{
    return m_initialized && Pa_GetDefaultOutputDevice() != paNoDevice ? 1 : 0;
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
    if (!m_initialized)
        return MMSYSERR_BADDEVICEID;
    PaStreamParameters parameters {};
    parameters.device = capture ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
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
    stream = std::make_unique<PortAudioStream>(opened);
    return MMSYSERR_NOERROR;
}

} // namespace wave
