#include "platform/acm/gsmdriver.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <gsm.h>
}

namespace acm {

namespace {

struct GsmDeleter
{
    void operator()(gsm_state *state) const { gsm_destroy(state); }
};
using GsmHandle = std::unique_ptr<gsm_state, GsmDeleter>;

// libgsm alternates between the first and the second half of a 65-byte block on every call, so
// each direction has a handle of its own, created on first use and never skipped.
GsmHandle createWav49Handle()
{
    GsmHandle handle(gsm_create());
    if (handle) {
        int on = 1;
        gsm_option(handle.get(), GSM_OPT_WAV49, &on);
    }
    return handle;
}

class GsmCodec : public Codec
{
public:
    explicit GsmCodec(uint32_t rate)
        : Codec(rate, GsmDriver::kBlockBytes, GsmDriver::kSamplesPerBlock)
    { }

    bool valid() const { return m_encoder && m_decoder; }

    void encode(const int16_t *pcm, std::size_t blocks, uint8_t *out) override
    {
        gsm_signal frame[GsmDriver::kSamplesPerBlock];
        for (std::size_t b = 0; b < blocks; ++b) {
            for (std::size_t i = 0; i < GsmDriver::kSamplesPerBlock; ++i)
                frame[i] = pcm[i];
            // The first call leaves 4 bits in byte 32 that the second call completes.
            gsm_encode(m_encoder.get(), frame, out);
            gsm_encode(m_encoder.get(), frame + 160, out + 32);
            pcm += GsmDriver::kSamplesPerBlock;
            out += GsmDriver::kBlockBytes;
        }
    }

    void decode(const uint8_t *in, std::size_t blocks, int16_t *pcm) override
    {
        gsm_byte block[GsmDriver::kBlockBytes];
        gsm_signal frame[GsmDriver::kSamplesPerBlock];
        for (std::size_t b = 0; b < blocks; ++b) {
            std::memcpy(block, in, sizeof block);
            // Both halves are always decoded so that the handle stays in step; a half that the
            // library rejects is played as silence.
            if (gsm_decode(m_decoder.get(), block, frame) < 0)
                std::fill(frame, frame + 160, gsm_signal(0));
            if (gsm_decode(m_decoder.get(), block + 33, frame + 160) < 0)
                std::fill(frame + 160, frame + 320, gsm_signal(0));
            for (std::size_t i = 0; i < GsmDriver::kSamplesPerBlock; ++i)
                pcm[i] = frame[i];
            in += GsmDriver::kBlockBytes;
            pcm += GsmDriver::kSamplesPerBlock;
        }
    }

private:
    GsmHandle m_encoder = createWav49Handle();
    GsmHandle m_decoder = createWav49Handle();
};

} // namespace

wave::TACMWaveFormat GsmDriver::standardFormat(uint32_t rate)
{
    auto record = wave::makeWaveFormat(wave::WAVE_FORMAT_GSM610, 1, rate,
        uint32_t(uint64_t(rate) * kBlockBytes / kSamplesPerBlock), kBlockBytes, 0, 2);
    record.extra[0] = uint8_t(kSamplesPerBlock & 0xFF);
    record.extra[1] = uint8_t(kSamplesPerBlock >> 8);
    return record;
}

QString GsmDriver::tagName() const
{
    return QStringLiteral("GSM 6.10");
}

std::vector<wave::TACMWaveFormat> GsmDriver::formats() const
{
    std::vector<wave::TACMWaveFormat> list;
    for (uint32_t rate : { 8000u, 11025u, 22050u, 44100u })
        list.push_back(standardFormat(rate));
    return list;
}

wave::MMRESULT GsmDriver::open(const wave::TACMWaveFormat &record, std::unique_ptr<Codec> &codec) const
{
    const wave::WAVEFORMATEX f = record.format;
    // The samples-per-block word must lie inside the record's extra room, whatever cbSize claims.
    if (f.wFormatTag != wave::WAVE_FORMAT_GSM610 || f.nChannels != 1 || f.nBlockAlign != kBlockBytes
        || f.nSamplesPerSec < kMinRate || f.nSamplesPerSec > kMaxRate || record.extraAvailable() < 2
        || (record.extra[0] | (record.extra[1] << 8)) != kSamplesPerBlock)
        return wave::WAVERR_BADFORMAT;
    auto gsmCodec = std::make_unique<GsmCodec>(f.nSamplesPerSec);
    if (!gsmCodec->valid())
        return wave::MMSYSERR_NOMEM;
    codec = std::move(gsmCodec);
    return wave::MMSYSERR_NOERROR;
}

} // namespace acm
