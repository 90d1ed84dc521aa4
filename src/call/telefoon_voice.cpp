#include "call/syncrandom.h"
#include "call/telefoon.h"

#include "audio/soundconverter.h"
#include "audio/soundin.h"
#include "audio/soundout.h"
#include "framework/application.h"
#include "framework/exception.h"
#include "net/udpsock.h"
#include "platform/acm/codec.h"
#include "platform/wave/backend.h"
#include "platform/wave/waveapi.h"

#include <algorithm>
#include <memory>

namespace call {

namespace {
constexpr uint32_t kSyncThreshold = 20;
constexpr uint32_t kSyncRange = 1200;
const QString kSoundStart = QStringLiteral("soundstart");
} // namespace

void TTelefoon::OpenAudio()
{
    wave::TACMWaveFormat format {};
    if (m_userChosenCodec) {
        // The dialog serves the event loop: the call may end, or end and start again, before it
        // returns, and then this opening is no longer wanted.
        const uint64_t session = m_audioSession;
        bool chosen = false;
        std::optional<QString> failure;
        try {
            // The chooser lives only for its dialog.
            const auto chooser = std::make_unique<audio::TACMConvertor>(this);
            chosen = chooser->ChooseFormat(format, false);
        } catch (...) {
            failure = framework::exceptionMessage(std::current_exception());
        }
        if (session != m_audioSession || !m_audioActive)
            return;
        if (!chosen) {
            m_audioActive = false;
            // A failing dialog is a failed open; a cancelled one says nothing.
            if (failure)
                reportDeviceOpenError(*failure);
            return;
        }
    } else {
        const std::optional<wave::TACMWaveFormat> table = codecFormat(uint8_t(m_connection));
        if (!table) {
            m_audioActive = false;
            reportDeviceOpenError(
                QStringLiteral("Unknown codec number %1: no audio device was opened").arg(uint8_t(m_connection)));
            return;
        }
        format = *table;
    }
    m_capture->setBufferSize(call::captureBufferSize(format.format));
    m_openedPlayout = m_playout;
    wave::setRequestedLatency(m_openedPlayout == Playout::Adaptive ? kAdaptiveLatencySeconds : 0);
    m_adaptive.reset();
    m_arrivalClock.start();
    try {
        m_playback->Open(format);
        // One buffer held back instead of four: the queue grows only as far as the jitter needs.
        if (m_openedPlayout == Playout::Adaptive)
            m_playback->Reprime(1);
        m_capture->Open(format);
        if (OnAudioDeviceOpen)
            OnAudioDeviceOpen(this, kSoundStart);
    } catch (...) {
        const QString message = framework::exceptionMessage(std::current_exception());
        m_audioActive = false;
        m_capture->Close();
        m_playback->Close();
        reportDeviceOpenError(message);
    }
}

void TTelefoon::reportDeviceOpenError(const QString &message)
{
    if (OnDeviceOpenError)
        OnDeviceOpenError(this, message);
    else
        framework::ShowMessage(message);
}

void TTelefoon::CloseAudio()
{
    m_capture->Close();
    m_playback->Close();
}

uint32_t TTelefoon::captureBufferSize() const
{
    return m_capture->BufferSize();
}

void TTelefoon::CaptureBufferFull(const void *data, int size)
{
    // An empty buffer (one handed back when the device stops) carries no sound to send; nothing
    // is sent outside a call.
    if (size <= 0 || !data || !m_audioActive)
        return;
    framework::MemoryStream stream;
    stream.write(data, size);
    if (m_mute)
        return;
    // A block of a codec with memory is never thinned here: the far decoder needs every one (it
    // thins after decoding instead).
    if (m_openedPlayout == Playout::Designed && !acm::hasMemoryBetweenBlocks(m_capture->format())) {
        const uint32_t draw = SyncRandom::draw(kSyncRange);
        if (draw <= kSyncThreshold && m_autoSynchronise)
            return;
    }
    m_udp->SendStream(stream);
}

void TTelefoon::PlayVoice(const framework::MemoryStream &stream)
{
    if (m_openedPlayout == Playout::Adaptive) {
        playAdaptive(stream);
        return;
    }
    // A thinned block still passes through the decoder, so that a codec with memory keeps step.
    const uint32_t draw = SyncRandom::draw(kSyncRange);
    if (draw <= kSyncThreshold && m_autoSynchronise)
        m_playback->Skip(stream.data(), int(stream.size()));
    else
        m_playback->Play(stream.data(), int(stream.size()));
}

void TTelefoon::playAdaptive(const framework::MemoryStream &stream)
{
    const int size = int(stream.size());
    // While buffers are held back the device queue says nothing about the arrivals.
    if (m_playback->pendingCount() > 0 || !m_playback->Active()) {
        m_playback->Play(stream.data(), size);
        return;
    }
    const wave::WAVEFORMATEX &format = m_playback->format().format;
    const double bufferMs = format.nAvgBytesPerSec ? size * 1000.0 / format.nAvgBytesPerSec : 0;
    const double queuedMs
        = format.nSamplesPerSec ? m_playback->stats().queuedSamples * 1000.0 / format.nSamplesPerSec : 0;
    const AdaptivePlayout::Decision decision
        = m_adaptive.arrived(m_arrivalClock.nsecsElapsed() / 1e6, queuedMs, bufferMs);
    if (decision.discard) {
        m_playback->Skip(stream.data(), size);
        return;
    }
    if (decision.holdBack > 0)
        m_playback->Reprime(uint8_t(std::min(decision.holdBack, 255)));
    m_playback->Play(stream.data(), size);
}

void TTelefoon::setVolume(int volume)
{
    if (!m_audioActive)
        return;
    m_lastVolume = volume;
    // 0 wraps to full level on both channels: half duplex asks for 0 while it listens.
    const uint32_t x = uint32_t(volume) * 655u - 1u;
    wave::waveOutSetVolume(m_playback->DeviceHandle(), x + x * 65536u);
}

int TTelefoon::Volume() const
{
    if (!m_audioActive)
        return m_lastVolume;
    uint32_t word = 0;
    if (wave::waveOutGetVolume(m_playback->DeviceHandle(), &word) != 0)
        return 0;
    const int32_t signedWord = int32_t(word);
    int32_t right = signedWord / 65536;
    if (signedWord < 0)
        right += 65536;
    return right / 655;
}

} // namespace call
