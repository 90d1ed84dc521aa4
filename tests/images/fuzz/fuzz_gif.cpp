// libFuzzer entry: reads any bytes as a GIF, decodes every frame, writes the image back and reads
// it again, and checks that re-encoding the first frame's bitmap gives the same pixels. Only the
// codec's own error may come out; anything else (a crash, a sanitizer report, another exception,
// a mismatch) is a finding.
#include "framework/memorystream.h"
#include "images/gifimage.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void reencodeFirstFrame(images::TGIFImage &image)
{
    if (image.Empty())
        return;
    images::TBitmap bitmap;
    try {
        bitmap = image.Frame(0).FrameBitmap();
    } catch (const framework::EInvalidGraphicOperation &) {
        return;
    }
    if (bitmap.empty() || qint64(bitmap.width()) * bitmap.height() > (1 << 20))
        return;
    images::TGIFImage fresh;
    fresh.Assign(bitmap);
    framework::MemoryStream written;
    fresh.SaveToStream(written);
    images::TGIFImage back;
    written.setPosition(0);
    back.LoadFromStream(written);
    check(back.FrameCount() == 1);
    const images::TBitmap &decoded = back.Frame(0).FrameBitmap();
    check(!back.Frame(0).Corrupted);
    check(decoded.bitsPerPixel() == bitmap.bitsPerPixel());
    check(decoded.bits() == bitmap.bits());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    images::TGIFImage image;
    framework::MemoryStream in(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    try {
        image.LoadFromStream(in);
    } catch (const framework::EInvalidGraphicOperation &) {
        return 0;
    }
    for (int i = 0; i < image.FrameCount(); ++i) {
        try {
            const images::TBitmap &bitmap = image.Frame(i).FrameBitmap();
            check(bitmap.empty() || bitmap.bits().size() == bitmap.stride() * bitmap.height());
        } catch (const framework::EInvalidGraphicOperation &) { }
    }
    reencodeFirstFrame(image);
    try {
        framework::MemoryStream out;
        image.SaveToStream(out);
        out.setPosition(0);
        images::TGIFImage again;
        again.LoadFromStream(out);
    } catch (const framework::EInvalidGraphicOperation &) { }
    return 0;
}
