#include "platform/acm/acmstream.h"

#include "platform/acm/codec.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace acm {

struct AcmStream
{
    wave::TACMWaveFormat sourceFormat;
    wave::TACMWaveFormat destinationFormat;
    std::unique_ptr<Codec> source;
    std::unique_ptr<Codec> destination;
    std::vector<int16_t> carry; // decoded samples that do not yet fill a destination block
};

namespace {

std::mutex &registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::set<AcmStream *> &liveStreams()
{
    static std::set<AcmStream *> streams;
    return streams;
}

bool isLive(HACMSTREAM stream)
{
    std::lock_guard lock(registryMutex());
    return stream && liveStreams().count(stream) != 0;
}

uint64_t ceilDiv(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

} // namespace

wave::MMRESULT acmStreamOpen(HACMSTREAM *stream, void *driver, const wave::TACMWaveFormat *source,
    const wave::TACMWaveFormat *destination, void *filter, uintptr_t callback, uintptr_t instance, uint32_t flags)
{
    (void)instance;
    if (flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME))
        return wave::MMSYSERR_INVALFLAG;
    if (!source || !destination || driver || filter || (!stream && !(flags & ACM_STREAMOPENF_QUERY)))
        return wave::MMSYSERR_INVALPARAM;
    // Asynchronous conversion would need a callback; this layer converts synchronously only.
    if ((flags & ACM_STREAMOPENF_ASYNC) || callback)
        return wave::MMSYSERR_INVALFLAG;
    auto created = std::make_unique<AcmStream>();
    created->sourceFormat = *source;
    created->destinationFormat = *destination;
    if (openCodec(*source, created->source) != wave::MMSYSERR_NOERROR
        || openCodec(*destination, created->destination) != wave::MMSYSERR_NOERROR
        || created->source->pcmRate() != created->destination->pcmRate())
        return wave::ACMERR_NOTPOSSIBLE;
    if (flags & ACM_STREAMOPENF_QUERY)
        return wave::MMSYSERR_NOERROR;
    std::lock_guard lock(registryMutex());
    *stream = created.release();
    liveStreams().insert(*stream);
    return wave::MMSYSERR_NOERROR;
}

wave::MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t inputBytes, uint32_t *outputBytes, uint32_t flags)
{
    if (!isLive(stream))
        return wave::MMSYSERR_INVALHANDLE;
    if (flags & ~ACM_STREAMSIZEF_DESTINATION)
        return wave::MMSYSERR_INVALFLAG;
    if (!outputBytes)
        return wave::MMSYSERR_INVALPARAM;
    const bool forSource = flags == ACM_STREAMSIZEF_SOURCE;
    const Codec &from = forSource ? *stream->source : *stream->destination;
    const Codec &to = forSource ? *stream->destination : *stream->source;
    const uint64_t frames = uint64_t(inputBytes / from.blockBytes()) * from.blockFrames();
    // A destination must hold all that its source gives (rounded up to a whole block); a source
    // must give no more than its destination holds (rounded down), or it would not convert whole.
    const uint64_t blocks = forSource ? ceilDiv(frames, to.blockFrames()) : frames / to.blockFrames();
    const uint64_t bytes = blocks * to.blockBytes();
    if (bytes == 0 || bytes > UINT32_MAX)
        return wave::ACMERR_NOTPOSSIBLE;
    *outputBytes = uint32_t(bytes);
    return wave::MMSYSERR_NOERROR;
}

wave::MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER *header, uint32_t flags)
{
    if (!isLive(stream))
        return wave::MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return wave::MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER) || !header->pbSrc || !header->pbDst)
        return wave::MMSYSERR_INVALPARAM;
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return wave::MMSYSERR_NOERROR;
}

wave::MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER *header, uint32_t flags)
{
    if (!isLive(stream))
        return wave::MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return wave::MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER))
        return wave::MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return wave::ACMERR_UNPREPARED;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return wave::MMSYSERR_NOERROR;
}

wave::MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER *header, uint32_t flags)
{
    if (!isLive(stream))
        return wave::MMSYSERR_INVALHANDLE;
    if (flags & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return wave::MMSYSERR_INVALFLAG;
    if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER))
        return wave::MMSYSERR_INVALPARAM;
    if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return wave::ACMERR_UNPREPARED;
    auto &carry = stream->carry;
    if (flags & ACM_STREAMCONVERTF_START) {
        // A new stream of sound: nothing of the last one may colour it, neither waiting samples
        // nor a coder's memory. Fresh codecs of formats that opened once open again.
        // Both open before either is replaced, so that a failure leaves the stream as it was.
        carry.clear();
        std::unique_ptr<Codec> source;
        std::unique_ptr<Codec> destination;
        if (const wave::MMRESULT reopened = openCodec(stream->sourceFormat, source))
            return reopened;
        if (const wave::MMRESULT reopened = openCodec(stream->destinationFormat, destination))
            return reopened;
        stream->source = std::move(source);
        stream->destination = std::move(destination);
    }
    Codec &src = *stream->source;
    Codec &dst = *stream->destination;

    // Take no more source than the destination can hold, so that the carry stays below a block.
    const uint64_t dstBlocksRoom = header->cbDstLength / dst.blockBytes();
    const uint64_t frameRoom = dstBlocksRoom * dst.blockFrames() + (dst.blockFrames() - 1);
    const uint64_t freeFrames = frameRoom > carry.size() ? frameRoom - carry.size() : 0;
    const uint64_t srcBlocks
        = std::min<uint64_t>(header->cbSrcLength / src.blockBytes(), freeFrames / src.blockFrames());
    const std::size_t oldCarry = carry.size();
    carry.resize(oldCarry + srcBlocks * src.blockFrames());
    src.decode(header->pbSrc, srcBlocks, carry.data() + oldCarry);

    if ((flags & ACM_STREAMCONVERTF_END) && carry.size() % dst.blockFrames() != 0
        && (carry.size() / dst.blockFrames()) < dstBlocksRoom)
        carry.resize(ceilDiv(carry.size(), dst.blockFrames()) * dst.blockFrames(), 0);
    const uint64_t dstBlocks = std::min<uint64_t>(carry.size() / dst.blockFrames(), dstBlocksRoom);
    dst.encode(carry.data(), dstBlocks, header->pbDst);
    carry.erase(carry.begin(), carry.begin() + std::ptrdiff_t(dstBlocks * dst.blockFrames()));

    header->cbSrcLengthUsed = uint32_t(srcBlocks * src.blockBytes());
    header->cbDstLengthUsed = uint32_t(dstBlocks * dst.blockBytes());
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return wave::MMSYSERR_NOERROR;
}

wave::MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags)
{
    if (!isLive(stream))
        return wave::MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return wave::MMSYSERR_INVALFLAG;
    {
        std::lock_guard lock(registryMutex());
        liveStreams().erase(stream);
    }
    delete stream;
    return wave::MMSYSERR_NOERROR;
}

} // namespace acm
