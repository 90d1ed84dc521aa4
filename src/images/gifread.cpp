// Reading GIF data into a TGIFImage: header, screen, tables, extension runs and images. Every
// read is bounded by the data; what a truncated file leaves out ends the reading or marks the
// frame Corrupted.
#include "images/gifimage.h"

#include <algorithm>
#include <cctype>

using framework::EInvalidGraphicOperation;

namespace images {

namespace {

constexpr quint8 kGraphicControlLabel = 0xF9;
constexpr quint8 kPlainTextLabel = 0x01;
constexpr quint8 kApplicationLabel = 0xFF;
constexpr quint8 kCommentLabel = 0xFE;
constexpr quint16 kMaxLoopCount = 30000;

class Reader
{
public:
    explicit Reader(const QByteArray &bytes)
        : m_data(reinterpret_cast<const uchar *>(bytes.constData()))
        , m_size(bytes.size())
    { }

    bool atEnd() const { return m_pos >= m_size; }
    qint64 left() const { return m_size - m_pos; }
    qint64 pos() const { return m_pos; }
    uchar peek() const { return m_data[m_pos]; }
    uchar byte() { return m_data[m_pos++]; }
    const uchar *at(qint64 pos) const { return m_data + pos; }
    quint16 word()
    {
        const quint16 v = quint16(m_data[m_pos] | m_data[m_pos + 1] << 8);
        m_pos += 2;
        return v;
    }
    // Up to count bytes (fewer at the end of the data).
    QByteArray take(qint64 count)
    {
        count = std::min(count, left());
        QByteArray bytes(reinterpret_cast<const char *>(m_data + m_pos), count);
        m_pos += count;
        return bytes;
    }
    void skip(qint64 count) { m_pos += std::min(count, left()); }

    // Sub-blocks until a zero length or the end of the data.
    QByteArrayList subBlocks()
    {
        QByteArrayList blocks;
        while (!atEnd()) {
            const int length = byte();
            if (length == 0)
                break;
            blocks.append(take(length));
        }
        return blocks;
    }

private:
    const uchar *m_data;
    qint64 m_size;
    qint64 m_pos = 0;
};

QList<TColor> readColorTable(Reader &in, int count)
{
    QList<TColor> table;
    table.reserve(count);
    for (int i = 0; i < count && in.left() >= 3; ++i) {
        const uchar r = in.byte(), g = in.byte(), b = in.byte();
        table.append(rgbColor(r, g, b));
    }
    return table;
}

bool sameText(const uchar *p, const char *text, int n)
{
    for (int i = 0; i < n; ++i)
        if (std::tolower(p[i]) != text[i])
            return false;
    return true;
}

// Lines of a text as a string list takes it: CR LF, CR or LF end a line.
QByteArrayList splitLines(const QByteArray &text)
{
    QByteArrayList lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.append(text.mid(begin, i - begin));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < text.size())
        lines.append(text.mid(begin));
    return lines;
}

} // namespace

void TGIFImage::readGif(const QByteArray &bytes, bool fromClipboard)
{
    Clear();
    m_data = std::make_shared<TGIFData>();
    Reader in(bytes);
    try {
        if (in.left() < 6 || !sameText(in.at(0), "gif", 3))
            throw EInvalidGraphicOperation(QStringLiteral("Unknown GIF version"));
        if (sameText(in.at(3), "87a", 3))
            GIFVersion = 1;
        else if (sameText(in.at(3), "89a", 3))
            GIFVersion = 2;
        else
            throw EInvalidGraphicOperation(QStringLiteral("Unknown GIF version"));
        in.skip(6);

        if (in.left() < 7)
            throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
        ScreenWidth = in.word();
        ScreenHeight = in.word();
        const uchar packed = in.byte();
        const uchar background = in.byte();
        m_data->Aspect = in.byte();
        m_data->ColorResolution = ((packed >> 4) & 7) + 1;
        m_data->GlobalTableBits = (packed & 7) + 1;
        if (packed & 0x80) {
            const int count = 1 << m_data->GlobalTableBits;
            if (in.left() < 3 * count)
                throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
            m_data->GlobalColorTable = readColorTable(in, count);
            if (background < count) {
                BackgroundColor = m_data->GlobalColorTable[background];
                m_backgroundIndex = background;
            }
        }

        std::vector<std::unique_ptr<TExtension>> run;
        // An image descriptor, its colour table and its data; the frame takes the run of
        // extensions read just before it.
        auto readImage = [&] {
            std::vector<std::unique_ptr<TExtension>> extensions = std::move(run);
            run.clear();
            if (in.left() < 9) {
                // A file cut inside its first descriptor has no picture to show: saying so beats
                // an empty image. After other frames the cut ends reading, like a missing trailer.
                if (m_frames.empty())
                    throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
                in.skip(in.left());
                return;
            }
            auto frame = std::make_unique<TGIFFrame>(this);
            auto item = std::make_shared<TGIFItem>();
            const int left = in.word();
            const int top = in.word();
            item->Width = in.word();
            item->Height = in.word();
            item->Packed = in.byte();
            frame->TopLeft = QPoint(left, top);
            frame->Interlaced = item->Packed & 0x40;
            frame->HasLocalTable = item->Packed & 0x80;
            if (frame->HasLocalTable) {
                item->BitsPerPixel = (item->Packed & 7) + 1;
                const int count = 1 << item->BitsPerPixel;
                item->ColorMap = readColorTable(in, count);
                if (item->ColorMap.size() < count)
                    frame->Corrupted = true;
            } else {
                item->BitsPerPixel = m_data->GlobalTableBits;
                item->ColorMap = m_data->GlobalColorTable;
            }

            QByteArray data;
            if (in.atEnd()) {
                // Not even the code size is left: the data its colours imply, and no codes, keep
                // the frame an (empty) picture that can be written again.
                data.append(char(std::max(2, item->BitsPerPixel)));
                data.append('\0');
                frame->Corrupted = true;
            } else {
                const qint64 begin = in.pos();
                in.skip(1); // code size
                bool complete = false;
                while (!in.atEnd()) {
                    const int length = in.peek();
                    if (length == 0) {
                        in.skip(1);
                        complete = true;
                        break;
                    }
                    if (in.left() < 1 + length)
                        break;
                    in.skip(1 + length);
                }
                data = QByteArray(reinterpret_cast<const char *>(in.at(begin)), in.pos() - begin);
                if (!complete) {
                    // Cut short by the end of the file: what is there becomes a last, shorter
                    // sub-block and the data is ended properly, so that it can be written again.
                    const qint64 rest = in.left() - 1;
                    if (rest > 0) {
                        data.append(char(rest));
                        data.append(reinterpret_cast<const char *>(in.at(in.pos() + 1)), rest);
                    }
                    in.skip(in.left());
                    data.append('\0');
                    frame->Corrupted = true;
                }
            }
            item->ImageData = framework::MemoryStream(data);

            for (const auto &extension : extensions) {
                const QByteArray &h = extension->ExtensionHeader;
                if (extension->ExtensionKind != TExtensionKind::ekGraphicControl || h.size() < 5)
                    continue;
                const uchar flags = uchar(h[1]);
                const int index = uchar(h[4]);
                if ((flags & 1) && index < item->ColorMap.size()) {
                    frame->TransparentColor = item->ColorMap[index];
                    frame->m_transparentIndex = index;
                }
                frame->DelayMs = (uchar(h[2]) | uchar(h[3]) << 8) * 10;
                frame->DisposalCode = (flags >> 2) & 7;
                break;
            }
            frame->Extensions = std::move(extensions);
            frame->Item = std::move(item);
            m_frames.push_back(std::move(frame));
        };

        for (;;) {
            while (!in.atEnd() && in.peek() == 0)
                in.skip(1);
            if (in.atEnd())
                break;
            const uchar introducer = in.byte();
            if (introducer == '!') {
                do {
                    if (in.atEnd())
                        break;
                    const uchar label = in.byte();
                    if (label == kGraphicControlLabel) {
                        auto extension = std::make_unique<TExtension>(TExtensionKind::ekGraphicControl);
                        extension->ExtensionHeader = in.take(6);
                        run.push_back(std::move(extension));
                    } else if (label == kCommentLabel) {
                        auto extension = std::make_unique<TExtension>(TExtensionKind::ekComment);
                        extension->ExtensionData = in.subBlocks();
                        run.push_back(std::move(extension));
                    } else if (label == kPlainTextLabel) {
                        // Text drawn over the picture is not supported: the block and whatever
                        // was meant to go with it are left out.
                        in.skip(13);
                        in.subBlocks();
                        run.clear();
                    } else if (label == kApplicationLabel) {
                        const QByteArray header = in.take(12);
                        const QByteArrayList data = in.subBlocks();
                        if (header.size() == 12 && header.mid(1) == "NETSCAPE2.0" && !data.isEmpty()
                            && data[0].size() >= 3 && data[0][0] == 1) {
                            LoopEnabled = true;
                            const quint16 count = quint16(uchar(data[0][1]) | uchar(data[0][2]) << 8);
                            LoopCount = std::min(count, kMaxLoopCount);
                        }
                    } else {
                        // Other readers skip blocks they do not know, and so does this one; the
                        // block goes with the image it precedes and is written back as it came.
                        auto extension = std::make_unique<TExtension>(TExtensionKind::ekUnknown, label);
                        extension->ExtensionData = in.subBlocks();
                        run.push_back(std::move(extension));
                    }
                } while (!in.atEnd() && in.peek() == '!' && (in.skip(1), true));

                if (!in.atEnd() && in.peek() == ',') {
                    in.skip(1);
                    readImage();
                    continue;
                }
                // A run that belongs to no image: its comments are the file's comment.
                if (m_data->ImageComment.isEmpty()) {
                    QByteArrayList texts;
                    for (const auto &extension : run)
                        if (extension->ExtensionKind == TExtensionKind::ekComment)
                            texts.append(extension->ExtensionData.join("\r\n"));
                    if (!texts.isEmpty())
                        m_data->ImageComment = splitLines(texts.join("\r\n\r\n"));
                }
                run.clear();
                if (in.atEnd() || in.peek() == ';')
                    break;
                if (in.peek() != 0)
                    throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
            } else if (introducer == ',') {
                readImage();
            } else {
                break; // the trailer, or bytes after the picture that are not ours to read
            }
        }
    } catch (...) {
        Clear();
        throw;
    }

    if (m_frames.empty())
        return;
    CurrentFrame = 0;
    if (fromClipboard)
        return;
    try {
        m_frames.front()->FrameBitmap();
    } catch (...) {
        DeleteFrame(0);
        throw;
    }
}

} // namespace images
