#include "audio/soundout.h"

#include "audio/audioerrors.h"

#include "framework/noticesink.h"

#include <QCoreApplication>

#include <cstring>

namespace audio {

using namespace wave;

TACMOut::TACMOut(QObject *owner)
    : TComponent(owner)
    , m_window(std::make_unique<framework::NoticeSink>(
          QStringLiteral("TACMOutWindow"), this, [this](const framework::Notice &notice) { handleNotice(notice); }))
{ }

TACMOut::~TACMOut()
{
    markDestroying();
    if (m_active)
        Close();
    m_buffers.clear();
    m_window.reset();
    m_pending.clear();
}

void TACMOut::Open(const TACMWaveFormat &format)
{
    if (m_active)
        return;
    m_device = nullptr;
    m_preRoll = NumBuffers;
    m_format = format;
    const bool pcm = m_format.format.wFormatTag == WAVE_FORMAT_PCM;
    const uint32_t device = pcm ? WAVE_MAPPER : 0;
    const uint32_t flags = pcm ? CALLBACK_WINDOW : CALLBACK_WINDOW | WAVE_MAPPED;
    const MMRESULT result = waveOutOpen(&m_device, device, &m_format, m_window.get(), 0, flags);
    if (result != MMSYSERR_NOERROR) {
        m_device = nullptr;
        ReportError(QStringLiteral("WaveOutOpen"), result);
    }
    m_active = true;
    ++m_generation;
}

void TACMOut::Play(const void *Data, int Size)
{
    queue(Data, Size, 0);
}

void TACMOut::Skip(const void *Data, int Size)
{
    queue(Data, Size, WHDR_NOSOUND);
}

void TACMOut::queue(const void *data, int size, uint32_t flags)
{
    if (size <= 0 || !data || !m_active)
        return;
    auto buffer = std::make_unique<Buffer>();
    buffer->data.reset(new char[std::size_t(size)]);
    std::memcpy(buffer->data.get(), data, std::size_t(size));
    WAVEHDR *header = &buffer->header;
    header->lpData = buffer->data.get();
    header->dwBufferLength = uint32_t(size);
    header->dwFlags = flags;
    header->dwLoops = 1;
    m_buffers.push_back(std::move(buffer));
    if (m_preRoll > 0) {
        // Sound that will not be heard builds no cushion.
        m_pending.push_back(header);
        if (!(flags & WHDR_NOSOUND))
            --m_preRoll;
        return;
    }
    // Index, not iterator: a failure closes the component, which empties the list.
    for (std::size_t i = 0; i < m_pending.size(); ++i)
        giveToDevice(m_pending[i]);
    m_pending.clear();
    giveToDevice(header);
}

void TACMOut::Reprime(uint8_t Blocks)
{
    if (m_active)
        m_preRoll = Blocks;
}

void TACMOut::giveToDevice(WAVEHDR *header)
{
    MMRESULT result = waveOutPrepareHeader(m_device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        ReportError(QStringLiteral("WaveOut-PrepareHeader"), result);
    result = waveOutWrite(m_device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        ReportError(QStringLiteral("WaveOut-Write"), result);
}

wave::WaveOutStats TACMOut::stats() const
{
    wave::WaveOutStats stats;
    if (m_active)
        waveOutGetStats(m_device, &stats);
    return stats;
}

void TACMOut::Close()
{
    if (!m_active)
        return;
    m_active = false;
    ++m_generation;
    waveOutReset(m_device);
    waveOutClose(m_device);
    // The reset has posted every queued block back; those notices belong to this closed
    // session and are dropped, so that they never meet a later session's blocks at reused
    // addresses.
    QCoreApplication::removePostedEvents(m_window.get());
    m_pending.clear();
    m_device = nullptr;
    while (!m_buffers.empty())
        m_buffers.pop_back();
}

void TACMOut::handleNotice(const framework::Notice &notice)
{
    if (notice.message == MM_WOM_DONE)
        bufferPlayed(reinterpret_cast<WAVEHDR *>(notice.lParam));
}

void TACMOut::bufferPlayed(WAVEHDR *header)
{
    if (!m_active)
        return;
    bool known = false;
    for (const auto &buffer : m_buffers)
        known = known || &buffer->header == header;
    if (!known)
        return;
    if (OnBufferPlayed) {
        const uint64_t generation = m_generation;
        OnBufferPlayed(this, header);
        // The handler may have closed the component, which released this block already.
        if (m_generation != generation || !m_active)
            return;
    }
    const MMRESULT result = waveOutUnprepareHeader(m_device, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        ReportError(QStringLiteral("WaveOut-UnprepareHeader"), result);
    release(header);
}

void TACMOut::release(const WAVEHDR *header)
{
    for (auto it = m_buffers.begin(); it != m_buffers.end(); ++it) {
        if (&(*it)->header == header) {
            m_buffers.erase(it);
            return;
        }
    }
}

void TACMOut::ReportError(const QString &operation, MMRESULT code)
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
    throw EACMOut(audioErrorMessage(AudioReporter::WaveOut, operation, int32_t(code)));
}

} // namespace audio
