// Writing a TGIFImage as GIF data: frames are encoded when they have no data yet, graphic control
// extensions are brought up to date, and the version follows from what the file holds.
#include "images/gifimage.h"

#include <algorithm>

using framework::EInvalidGraphicOperation;

namespace images {

namespace {

constexpr quint16 kMaxDelay = 65535; // hundredths of a second

class Writer
{
public:
    explicit Writer(framework::MemoryStream &stream)
        : m_stream(stream)
    { }
    void byte(int v)
    {
        const char c = char(v);
        m_stream.write(&c, 1);
    }
    void word(int v)
    {
        byte(v & 0xFF);
        byte((v >> 8) & 0xFF);
    }
    void bytes(const QByteArray &b) { m_stream.write(b); }
    // A table of 2^bits entries; entries beyond the map are black.
    void colorTable(const QList<TColor> &map, int bits)
    {
        QByteArray table(3 * (1 << bits), '\0');
        for (int i = 0; i < std::min<int>(int(map.size()), 1 << bits); ++i) {
            table[3 * i] = char(map[i] >> 16);
            table[3 * i + 1] = char(map[i] >> 8);
            table[3 * i + 2] = char(map[i]);
        }
        bytes(table);
    }
    // Each string as one sub-block, cut to 255 bytes, then the terminator. An empty string has no
    // sub-block of its own: its zero length would end the data early.
    void subBlocks(const QByteArrayList &strings)
    {
        for (const QByteArray &s : strings) {
            if (s.isEmpty())
                continue;
            const QByteArray block = s.left(255);
            byte(int(block.size()));
            bytes(block);
        }
        byte(0);
    }

private:
    framework::MemoryStream &m_stream;
};

int tableBits(int bits, qsizetype count)
{
    bits = std::clamp(bits, 1, 8);
    while ((qsizetype(1) << bits) < count && bits < 8)
        ++bits;
    return bits;
}

bool hasText(const QByteArrayList &strings)
{
    return std::any_of(strings.begin(), strings.end(), [](const QByteArray &s) { return !s.isEmpty(); });
}

} // namespace

void TGIFFrame::prepareExtensions()
{
    TExtension *control = nullptr;
    for (auto &extension : Extensions)
        if (extension->ExtensionKind == TExtensionKind::ekGraphicControl) {
            control = extension.get();
            break;
        }
    if (!control && (DelayMs != 0 || TransparentColor != NoneColor || DisposalCode != 0)) {
        Extensions.insert(Extensions.begin(), std::make_unique<TExtension>(TExtensionKind::ekGraphicControl));
        control = Extensions.front().get();
    }
    if (control) {
        QByteArray &h = control->ExtensionHeader;
        const uchar oldFlags = h.size() > 1 ? uchar(h[1]) : 0;
        int index = -1;
        if (TransparentColor != NoneColor) {
            const QList<TColor> &map = Item->ColorMap;
            if (m_transparentIndex >= 0 && m_transparentIndex < map.size()
                && map[m_transparentIndex] == TransparentColor)
                index = m_transparentIndex; // a colour listed twice keeps the entry the pixels use
            else
                index = int(map.indexOf(TransparentColor));
        }
        const int delay = std::clamp(DelayMs / 10, 0, int(kMaxDelay));
        const uchar flags = uchar((oldFlags & 0xE2) | (DisposalCode & 7) << 2 | (index >= 0 ? 1 : 0));
        h = QByteArray(6, '\0');
        h[0] = 4;
        h[1] = char(flags);
        h[2] = char(delay & 0xFF);
        h[3] = char(delay >> 8);
        h[4] = char(index >= 0 ? index : 0);
    }
    std::erase_if(Extensions, [](const std::unique_ptr<TExtension> &e) {
        return e->ExtensionKind == TExtensionKind::ekComment && !hasText(e->ExtensionData);
    });
}

void TGIFImage::writeGif(framework::MemoryStream &stream)
{
    if (m_frames.empty())
        throw EInvalidGraphicOperation(QStringLiteral("No GIF Data to write"));
    for (auto &frame : m_frames)
        if (frame->Item->ImageData.size() == 0)
            frame->encode();

    int version = GIFVersion == 2 ? 2 : 1;
    if (hasText(m_data->ImageComment))
        version = 2;
    const bool loopBlock = LoopEnabled && m_frames.size() > 1;
    if (loopBlock)
        version = 2; // the loop block is an extension, which 87a does not have
    for (auto &frame : m_frames) {
        frame->prepareExtensions();
        if (!frame->Extensions.empty())
            version = 2;
    }
    GIFVersion = version;

    // The screen covers every frame; a larger screen that was read is kept.
    int screenWidth = ScreenWidth;
    int screenHeight = ScreenHeight;
    for (const auto &frame : m_frames) {
        screenWidth = std::max(screenWidth, frame->TopLeft.x() + frame->Item->Width);
        screenHeight = std::max(screenHeight, frame->TopLeft.y() + frame->Item->Height);
    }
    ScreenWidth = quint16(std::min(screenWidth, 65535));
    ScreenHeight = quint16(std::min(screenHeight, 65535));

    Writer out(stream);
    out.bytes(version == 2 ? "GIF89a" : "GIF87a");
    out.word(ScreenWidth);
    out.word(ScreenHeight);
    const QList<TColor> &global = m_data->GlobalColorTable;
    const int globalBits = tableBits(m_data->GlobalTableBits, global.size());
    int background = 0;
    if (BackgroundColor != NoneColor) {
        if (m_backgroundIndex >= 0 && m_backgroundIndex < global.size() && global[m_backgroundIndex] == BackgroundColor)
            background = m_backgroundIndex;
        else
            background = std::max<int>(0, int(global.indexOf(BackgroundColor)));
    }
    out.byte(global.isEmpty() ? 0 : 0x80 | (globalBits - 1) << 4 | (globalBits - 1));
    out.byte(background);
    out.byte(m_data->Aspect);
    if (!global.isEmpty())
        out.colorTable(global, globalBits);

    if (loopBlock) {
        out.byte('!');
        out.byte(0xFF);
        out.byte(11);
        out.bytes("NETSCAPE2.0");
        out.byte(3);
        out.byte(1);
        out.word(LoopCount);
        out.byte(0);
    }

    for (const auto &frame : m_frames) {
        for (const auto &extension : frame->Extensions) {
            out.byte('!');
            out.byte(extension->label());
            out.bytes(extension->ExtensionHeader);
            if (extension->ExtensionKind != TExtensionKind::ekGraphicControl)
                out.subBlocks(extension->ExtensionData);
        }
        const TGIFItem &item = *frame->Item;
        const int bits = tableBits(item.BitsPerPixel, item.ColorMap.size());
        out.byte(',');
        out.word(frame->TopLeft.x());
        out.word(frame->TopLeft.y());
        out.word(item.Width);
        out.word(item.Height);
        out.byte((frame->HasLocalTable ? 0x80 | (bits - 1) : 0) | (frame->Interlaced ? 0x40 : 0));
        if (frame->HasLocalTable)
            out.colorTable(item.ColorMap, bits);
        out.bytes(item.ImageData.bytes());
    }

    if (hasText(m_data->ImageComment)) {
        out.byte('!');
        out.byte(0xFE);
        out.subBlocks(m_data->ImageComment);
    }
    out.byte(';');
}

} // namespace images
