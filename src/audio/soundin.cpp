#include "audio/soundin.h"

#include "audio/audioerrors.h"

#include "framework/noticesink.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <exception>

namespace audio {

using namespace wave;

TACMIn::TACMIn(QObject *owner)
    : TComponent(owner)
    , m_window(std::make_unique<framework::NoticeSink>(
          QStringLiteral("TACMInWindow"), this, [this](const framework::Notice &notice) { handleNotice(notice); }))
{ }

TACMIn::~TACMIn()
{
    markDestroying();
    if (m_active)
        Close();
    m_buffers.clear();
    m_window.reset();
}

void TACMIn::setBufferSize(uint32_t size)
{
    if (!m_active)
        m_bufferSize = size;
}

void TACMIn::setNumBuffers(int count)
{
    if (count < kMinBuffers || count > kMaxBuffers)
        throw framework::ERangeError();
    if (!m_active)
        m_numBuffers = uint8_t(count);
}

void TACMIn::Open(const TACMWaveFormat &format)
{
    if (m_active)
        return;
    m_device = nullptr;
    m_format = format;
    // PCM goes through the mapper as it is; other formats open device 0 with the mapper's codec.
    const bool pcm = m_format.format.wFormatTag == WAVE_FORMAT_PCM;
    const uint32_t device = pcm ? WAVE_MAPPER : 0;
    const uint32_t flags = pcm ? CALLBACK_WINDOW : CALLBACK_WINDOW | WAVE_MAPPED;
    MMRESULT result = waveInOpen(&m_device, device, &m_format, m_window.get(), 0, flags);
    if (result != MMSYSERR_NOERROR) {
        m_device = nullptr;
        ReportError(QStringLiteral("WaveIn-Open"), result);
    }
    for (int i = 0; i < m_numBuffers; ++i) {
        auto buffer = std::make_unique<Buffer>();
        buffer->data.reset(new char[m_bufferSize]);
        buffer->header.lpData = buffer->data.get();
        buffer->header.dwBufferLength = m_bufferSize;
        WAVEHDR *header = &buffer->header;
        m_buffers.push_back(std::move(buffer));
        result = waveInPrepareHeader(m_device, header, sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) {
            releaseAfterFailedOpen();
            ReportError(QStringLiteral("WaveIn-PrepareHeader"), result);
        }
        result = waveInAddBuffer(m_device, header, sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) {
            releaseAfterFailedOpen();
            ReportError(QStringLiteral("WaveIn-AddBuffer"), result);
        }
    }
    result = waveInStart(m_device);
    if (result != MMSYSERR_NOERROR) {
        releaseAfterFailedOpen();
        ReportError(QStringLiteral("WaveIn-Start"), result);
    }
    m_active = true;
    ++m_generation;
}

// A failed open must not leave the device open or buffers behind, although the component
// never became active (the error rule closes active components only).
void TACMIn::releaseAfterFailedOpen()
{
    waveInReset(m_device);
    waveInClose(m_device);
    m_device = nullptr;
    QCoreApplication::removePostedEvents(m_window.get());
    while (!m_buffers.empty())
        m_buffers.pop_back();
}

void TACMIn::Close()
{
    if (!m_active)
        return;
    m_active = false;
    ++m_generation;
    waveInReset(m_device);
    waveInClose(m_device);
    m_device = nullptr;
    // The reset has posted every queued buffer back; those notices belong to this closed
    // session and are dropped here, so that they can never meet a later session's buffers
    // that happen to reuse the same addresses.
    QCoreApplication::removePostedEvents(m_window.get());
    while (!m_buffers.empty())
        m_buffers.pop_back();
}

void TACMIn::handleNotice(const framework::Notice &notice)
{
    if (notice.message == MM_WIM_DATA)
        bufferFull(reinterpret_cast<WAVEHDR *>(notice.lParam));
}

TACMIn::Buffer *TACMIn::findBuffer(const WAVEHDR *header)
{
    for (const auto &buffer : m_buffers) {
        if (&buffer->header == header)
            return buffer.get();
    }
    return nullptr;
}

void TACMIn::bufferFull(WAVEHDR *header)
{
    if (!m_active)
        return;
    Buffer *buffer = findBuffer(header);
    if (!buffer)
        return;
    const uint64_t generation = m_generation;
    // A failing handler (a send that failed) still gets its buffer back in the queue, or a few
    // failures would stop the recording for good; its failure is raised after that.
    std::exception_ptr failure;
    if (OnBufferFull) {
        const uint32_t recorded = std::min(header->dwBytesRecorded, m_bufferSize);
        // A private copy, freed after the handler also when it raises.
        std::unique_ptr<char[]> copy;
        if (recorded != 0) {
            copy.reset(new char[recorded]);
            std::memcpy(copy.get(), buffer->data.get(), recorded);
        }
        try {
            OnBufferFull(this, copy.get(), int(recorded));
        } catch (...) {
            failure = std::current_exception();
        }
        // The handler may have closed (and even reopened) the component: this buffer is gone.
        if (m_generation != generation || !m_active) {
            if (failure)
                std::rethrow_exception(failure);
            return;
        }
    }
    MMRESULT result = waveInUnprepareHeader(m_device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        ReportError(QStringLiteral("WaveIn-UnprepareHeader"), result);
    header->dwBufferLength = m_bufferSize;
    header->dwBytesRecorded = 0;
    header->dwUser = 0;
    header->dwFlags = 0;
    header->dwLoops = 0;
    if (m_bufferSize != 0)
        std::memset(buffer->data.get(), 0, m_bufferSize);
    result = waveInPrepareHeader(m_device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        ReportError(QStringLiteral("WaveIn-PrepareHeader"), result);
    result = waveInAddBuffer(m_device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        ReportError(QStringLiteral("WaveInAddBuffer"), result);
    if (failure)
        std::rethrow_exception(failure);
}

void TACMIn::ReportError(const QString &operation, MMRESULT code)
{
    if (code == MMSYSERR_NOERROR)
        return;
    if (m_active) {
        try {
            Close();
        } catch (...) {
            // The message of the original failure is what the user needs to see.
        }
    }
    throw EACMIn(audioErrorMessage(AudioReporter::WaveIn, operation, int32_t(code)));
}

} // namespace audio
