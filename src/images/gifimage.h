#pragma once

#include "framework/memorystream.h"
#include "framework/picture.h"
#include "images/bitmap.h"

#include <QByteArrayList>
#include <QPoint>

#include <memory>
#include <optional>
#include <vector>

namespace images {

class TGIFImage;

enum class TExtensionKind
{
    ekGraphicControl,
    ekPlainText,
    ekApplication,
    ekComment,
    ekUnknown // a label this codec does not know: kept and written back unchanged
};

// One extension block. ExtensionHeader holds the fixed bytes after the label (6 for a graphic
// control, counting its block size byte and terminator; 13 for plain text; 12 for application;
// none for an unknown block); ExtensionData the data sub-blocks, one byte string each (comments,
// unknown blocks and the others).
class TExtension
{
public:
    explicit TExtension(TExtensionKind kind, quint8 unknownLabel = 0)
        : ExtensionKind(kind)
        , UnknownLabel(unknownLabel)
    { }

    TExtensionKind ExtensionKind;
    quint8 UnknownLabel; // the label of an ekUnknown block
    QByteArray ExtensionHeader;
    QByteArrayList ExtensionData;

    quint8 label() const;
};

// What frames of copied images share: the image descriptor's size and packed byte, the frame's
// colours and its LZW data exactly as in a file (code size byte, sub-blocks, zero terminator).
struct TGIFItem
{
    quint16 Width = 0;
    quint16 Height = 0;
    quint8 Packed = 0;
    QList<TColor> ColorMap; // at most 256 entries
    int BitsPerPixel = 0;
    framework::MemoryStream ImageData;
};

// Image-wide data shared by copies of an image.
struct TGIFData
{
    quint8 Aspect = 0;
    int ColorResolution = 8; // 1..8
    int GlobalTableBits = 1; // 1..8
    QList<TColor> GlobalColorTable; // empty: no global table
    QByteArrayList ImageComment;
};

// One image of a GIF file. Owned by its TGIFImage; GUI thread only.
class TGIFFrame
{
public:
    explicit TGIFFrame(TGIFImage *owner);
    TGIFFrame(const TGIFFrame &) = delete;
    TGIFFrame &operator=(const TGIFFrame &) = delete;

    TGIFImage *Owner() const { return m_owner; }

    std::shared_ptr<TGIFItem> Item;
    std::vector<std::unique_ptr<TExtension>> Extensions;
    QPoint TopLeft;
    bool Interlaced = false;
    bool HasLocalTable = false;
    bool Corrupted = false;
    bool Grayscale = false; // reduce to grey levels when a deep bitmap is encoded
    TColor TransparentColor = NoneColor;
    int DelayMs = 0; // milliseconds; written in hundredths of a second (at most 65535)
    int DisposalCode = 0; // 0..7

    // The decoded bitmap, decoded on first use and cached. Raises EInvalidGraphicOperation for
    // data that cannot be decoded at all; damaged data gives what could be decoded and sets
    // Corrupted (a size larger than the data could describe gives an empty bitmap). A decoding
    // the progress handler cancelled gives an empty bitmap and is tried again on the next use.
    const TBitmap &FrameBitmap();
    // Replaces the picture: the frame is encoded from this bitmap before saving. A transparent
    // bitmap passes on its transparent colour.
    void SetFrameBitmap(const TBitmap &bitmap);
    bool hasBitmap() const { return m_bitmap.has_value(); }
    int Width() { return FrameBitmap().width(); }
    int Height() { return FrameBitmap().height(); }

    // The lines of the frame's comment extension, made on first access.
    QByteArrayList &Comment();

    // Shares the other frame's item and copies its settings, extensions and bitmap.
    void copyFrom(const TGIFFrame &other);

private:
    friend class TGIFImage;

    void decode();
    void encode();
    void prepareExtensions();

    TGIFImage *m_owner;
    std::optional<TBitmap> m_bitmap;
    int m_transparentIndex = -1; // as read, kept when it still names TransparentColor
};

// A GIF87a/GIF89a picture, single or animated. GUI thread only (the clipboard is the GUI's).
class TGIFImage : public framework::TGraphic
{
public:
    TGIFImage();
    ~TGIFImage() override;

    static const QString ClipboardFormatName; // "GIF Image"

    void LoadFromStream(framework::MemoryStream &stream) override;
    void SaveToStream(framework::MemoryStream &stream) override;
    void LoadFromClipboardFormat(const QMimeData &data) override;
    void SaveToClipboardFormat(QMimeData &data) override;
    // Through the application's clipboard (needs a QGuiApplication).
    void LoadFromClipboard();
    void SaveToClipboard();

    void Assign(const framework::TGraphic &source) override;
    void Assign(const TGIFFrame &frame);
    void Assign(const TBitmap &bitmap);
    // The current frame's bitmap (frame 0 when none is current), with the transparent colour.
    void AssignTo(TBitmap &bitmap);

    void Draw(QPainter &canvas, const QRect &rect) override;

    int Width() override;
    int Height() override;
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    bool Empty() const override { return m_frames.empty(); }
    QList<quint32> Palette() override;
    bool Transparent() const override;

    const std::shared_ptr<TGIFData> &Data() const { return m_data; }
    // The image-wide data for changing (unshared from copies first).
    TGIFData &mutableData();

    int GIFVersion = 0; // 0 none, 1 "87a", 2 "89a"
    quint16 ScreenWidth = 0;
    quint16 ScreenHeight = 0;
    TColor BackgroundColor = NoneColor;
    bool LoopEnabled = false;
    quint16 LoopCount = 1;
    int CurrentFrame = -1;

    const std::vector<std::unique_ptr<TGIFFrame>> &FrameList() const { return m_frames; }
    int FrameCount() const { return int(m_frames.size()); }
    TGIFFrame &Frame(int index) { return *m_frames.at(size_t(index)); }
    // Appends a frame showing the bitmap; a second frame makes the image "89a".
    TGIFFrame &AddFrame(const TBitmap &bitmap);
    void DeleteFrame(int index);
    void Clear();

private:
    friend class TGIFFrame;

    void readGif(const QByteArray &bytes, bool fromClipboard);
    void writeGif(framework::MemoryStream &stream);
    bool reportProgress(framework::TProgressStage stage, int percent, const QString &msg = QString())
    {
        return Progress(stage, percent, msg);
    }
    void coverFrame(const TGIFFrame &frame);

    std::shared_ptr<TGIFData> m_data;
    std::vector<std::unique_ptr<TGIFFrame>> m_frames;
    int m_backgroundIndex = -1; // as read, kept when it still names BackgroundColor
};

// Registers TGIFImage with the picture-format registry ("gif", "CompuServe GIF Image", clipboard
// format "GIF Image"). Every program that has pictures calls it at its start (GUI thread); nothing
// registers behind its back. Calling it again is harmless.
void registerGifImage();
void unregisterGifImage();

} // namespace images
