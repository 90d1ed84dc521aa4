#include "audio/soundconverter.h"

#include "audio/audioerrors.h"

#include "framework/memorystream.h"
#include "framework/propertyfiler.h"

#include <algorithm>
#include <cstring>

namespace audio {

using namespace wave;

namespace {

// PCM, mono, 22050 samples/s, 8 bits. The extra-size field keeps the value 129 that these
// defaults always had; PCM formats never read it.
TACMWaveFormat defaultStreamFormat()
{
    return makeWaveFormat(WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, uint16_t(TACMWaveFormat::kSize));
}

void writeRecord(framework::MemoryStream &stream, const TACMWaveFormat &record)
{
    const uint32_t length = TACMWaveFormat::kSize;
    const uint8_t prefix[4] = { uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24) };
    stream.write(prefix, sizeof prefix);
    stream.write(record.bytes(), qint64(TACMWaveFormat::kSize));
}

void readRecord(framework::MemoryStream &stream, TACMWaveFormat &record)
{
    uint8_t prefix[4] = {};
    if (stream.read(prefix, sizeof prefix) != sizeof prefix)
        return;
    const uint32_t length
        = uint32_t(prefix[0]) | uint32_t(prefix[1]) << 8 | uint32_t(prefix[2]) << 16 | uint32_t(prefix[3]) << 24;
    // The record holds 129 bytes: a longer block fills it and the rest is skipped; a block
    // shorter than it claims gives only what it has.
    const qint64 wanted = std::min<qint64>(length, qint64(TACMWaveFormat::kSize));
    stream.read(record.bytes(), wanted);
}

} // namespace

TACMConvertor::TACMConvertor(QObject *owner)
    : TComponent(owner)
    , m_formatIn(defaultStreamFormat())
    , m_formatOut(defaultStreamFormat())
{
    setInputBufferSize(2048);
}

TACMConvertor::~TACMConvertor()
{
    markDestroying();
    try {
        setActive(false);
    } catch (...) {
        // Nothing can be reported from a destructor; the stream is gone with the process anyway.
    }
}

bool TACMConvertor::ChooseFormat(TACMWaveFormat &format, bool UseAsInitial)
{
    auto working = std::make_unique<TACMWaveFormat>();
    if (UseAsInitial) {
        *working = format;
    } else {
        // GSM 6.10 to start on. Its header is what the dialog has always been opened with; the
        // extra bytes are zero and declared absent, so the record claims nothing it lacks.
        *working = makeWaveFormat(WAVE_FORMAT_GSM610, 1, 8000, 8000, 1, 8, 0);
    }
    m_choose.cbStruct = sizeof(acm::ACMFORMATCHOOSEA);
    m_choose.fdwStyle = acm::ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    m_choose.pwfx = &working->format;
    m_choose.cbwfx = TACMWaveFormat::kSize;
    const MMRESULT result = acm::acmFormatChooseA(&m_choose);
    m_choose.pwfx = nullptr; // the working record dies here
    if (result == MMSYSERR_NOERROR) {
        format = *working;
        return true;
    }
    if (result == ACMERR_CANCELED)
        return false;
    ReportError(QStringLiteral("Choose format"), result);
    return false;
}

void TACMConvertor::setActive(bool active)
{
    if (active == m_active)
        return;
    if (active)
        openStream();
    else
        closeStream();
}

void TACMConvertor::setInputBufferSize(uint32_t size)
{
    if (m_active)
        throw EACMConvertor(QStringLiteral("You cannot change the buffer size while active."));
    m_inputBufferSize = size;
}

void TACMConvertor::openStream()
{
    ReportError(QStringLiteral("acmStreamOpen:"),
        acm::acmStreamOpen(&m_stream, nullptr, &m_formatIn, &m_formatOut, nullptr, 0, 0, 0));
    const MMRESULT sized
        = acm::acmStreamSize(m_stream, m_inputBufferSize, &m_destinationSize, acm::ACM_STREAMSIZEF_SOURCE);
    if (sized != MMSYSERR_NOERROR) {
        // Not left open with nobody to close it: the component stays inactive.
        acm::acmStreamClose(m_stream, 0);
        m_stream = nullptr;
        ReportError(QStringLiteral("acmStreamSize:"), sized);
    }
    m_source.reset(new uint8_t[m_inputBufferSize]);
    m_destination.reset(new uint8_t[m_destinationSize]);
    m_header = acm::ACMSTREAMHEADER {};
    m_header.cbStruct = sizeof(acm::ACMSTREAMHEADER);
    m_header.pbSrc = m_source.get();
    m_header.cbSrcLength = m_inputBufferSize;
    m_header.pbDst = m_destination.get();
    m_header.cbDstLength = m_destinationSize;
    const MMRESULT prepared = acm::acmStreamPrepareHeader(m_stream, &m_header, 0);
    if (prepared != MMSYSERR_NOERROR) {
        m_source.reset();
        m_destination.reset();
        acm::acmStreamClose(m_stream, 0);
        m_stream = nullptr;
        ReportError(QStringLiteral("acmStreamPrepareHeader:"), prepared);
    }
    m_active = true;
}

void TACMConvertor::closeStream()
{
    // Everything is released whatever the calls answer, so that a failed close cannot leave a
    // stream that nobody will close; the first failure is then reported.
    const MMRESULT unprepared = acm::acmStreamUnprepareHeader(m_stream, &m_header, 0);
    const MMRESULT closed = acm::acmStreamClose(m_stream, 0);
    m_stream = nullptr;
    m_source.reset();
    m_destination.reset();
    m_active = false;
    ReportError(QStringLiteral("acmStreamUnPrepareHeader:"), unprepared);
    ReportError(QStringLiteral("acmStreamClose:"), closed);
}

void TACMConvertor::DefineProperties(framework::TFiler &filer)
{
    TComponent::DefineProperties(filer);
    filer.DefineBinaryProperty(
        QStringLiteral("ACMFormatIn"), [this](framework::MemoryStream &stream) { readRecord(stream, m_formatIn); },
        [this](framework::MemoryStream &stream) { writeRecord(stream, m_formatIn); }, true);
    filer.DefineBinaryProperty(
        QStringLiteral("ACMFormatOut"), [this](framework::MemoryStream &stream) { readRecord(stream, m_formatOut); },
        [this](framework::MemoryStream &stream) { writeRecord(stream, m_formatOut); }, true);
}

void TACMConvertor::ReportError(const QString &operation, MMRESULT code)
{
    if (code == MMSYSERR_NOERROR)
        return;
    throw EACMConvertor(audioErrorMessage(AudioReporter::Convertor, operation, int32_t(code)));
}

} // namespace audio
