#include "images/gifimage.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>

#include <typeindex>

using framework::EInvalidGraphicOperation;
using framework::MemoryStream;

namespace images {

const QString TGIFImage::ClipboardFormatName = QStringLiteral("GIF Image");

TGIFImage::TGIFImage()
    : m_data(std::make_shared<TGIFData>())
{
    SetTransparent(true);
}

TGIFImage::~TGIFImage() = default;

void TGIFImage::LoadFromStream(MemoryStream &stream)
{
    const QByteArray bytes = stream.bytes().mid(stream.position());
    stream.setPosition(stream.size());
    readGif(bytes, false);
    Changed();
}

void TGIFImage::SaveToStream(MemoryStream &stream)
{
    writeGif(stream);
}

void TGIFImage::LoadFromClipboardFormat(const QMimeData &data)
{
    const QString gifType = framework::clipboardMimeType(ClipboardFormatName);
    const QString mimeType = gifType.isEmpty()
        ? QStringLiteral("application/x-qt-windows-mime;value=\"%1\"").arg(ClipboardFormatName)
        : gifType;
    if (data.hasFormat(mimeType)) {
        const QByteArray block = data.data(mimeType);
        if (block.size() < 4)
            throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
        const quint32 length = quint32(uchar(block[0])) | quint32(uchar(block[1])) << 8 | quint32(uchar(block[2])) << 16
            | quint32(uchar(block[3])) << 24;
        readGif(block.mid(4, qsizetype(std::min<qint64>(length, block.size() - 4))), true);
        if (!m_frames.empty() && data.hasImage())
            m_frames.front()->m_bitmap = TBitmap::fromImage(qvariant_cast<QImage>(data.imageData()));
        Changed();
        return;
    }
    if (data.hasImage()) {
        Assign(TBitmap::fromImage(qvariant_cast<QImage>(data.imageData())));
        return;
    }
    throw EInvalidGraphicOperation(QStringLiteral("Unsupported clipboard format"));
}

void TGIFImage::SaveToClipboardFormat(QMimeData &data)
{
    if (m_frames.empty())
        throw EInvalidGraphicOperation(QStringLiteral("No GIF Data to write"));
    data.setImageData(m_frames.front()->FrameBitmap().toImage());
    const bool allData = std::all_of(m_frames.begin(), m_frames.end(),
        [](const std::unique_ptr<TGIFFrame> &frame) { return frame->Item->ImageData.size() > 0; });
    if (!allData)
        return;
    MemoryStream gif;
    writeGif(gif);
    const quint32 length = quint32(gif.size());
    QByteArray block;
    block.append(char(length)).append(char(length >> 8)).append(char(length >> 16)).append(char(length >> 24));
    block.append(gif.bytes());
    QString mimeType = framework::clipboardMimeType(ClipboardFormatName);
    if (mimeType.isEmpty())
        mimeType = QStringLiteral("application/x-qt-windows-mime;value=\"%1\"").arg(ClipboardFormatName);
    data.setData(mimeType, block);
}

namespace {

// The application's clipboard; only a GUI application has one.
QClipboard &clipboard()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        throw framework::Exception(QStringLiteral("Cannot open clipboard"));
    return *QGuiApplication::clipboard();
}

} // namespace

void TGIFImage::LoadFromClipboard()
{
    const QMimeData *data = clipboard().mimeData();
    if (!data)
        throw EInvalidGraphicOperation(QStringLiteral("Unsupported clipboard format"));
    LoadFromClipboardFormat(*data);
}

void TGIFImage::SaveToClipboard()
{
    auto data = std::make_unique<QMimeData>();
    SaveToClipboardFormat(*data);
    clipboard().setMimeData(data.release()); // the clipboard takes it
}

void TGIFImage::Assign(const framework::TGraphic &source)
{
    if (&source == this)
        return;
    const auto *gif = dynamic_cast<const TGIFImage *>(&source);
    if (!gif) {
        framework::TGraphic::Assign(source);
        return;
    }
    Clear();
    m_data = gif->m_data;
    GIFVersion = gif->GIFVersion;
    ScreenWidth = gif->ScreenWidth;
    ScreenHeight = gif->ScreenHeight;
    BackgroundColor = gif->BackgroundColor;
    m_backgroundIndex = gif->m_backgroundIndex;
    LoopEnabled = gif->LoopEnabled;
    LoopCount = gif->LoopCount;
    for (const auto &frame : gif->m_frames) {
        auto copy = std::make_unique<TGIFFrame>(this);
        copy->copyFrom(*frame);
        m_frames.push_back(std::move(copy));
    }
    CurrentFrame = gif->CurrentFrame;
    Changed();
}

void TGIFImage::Assign(const TGIFFrame &frame)
{
    if (frame.Owner() == this && m_frames.size() == 1 && m_frames.front().get() == &frame)
        return;
    auto copy = std::make_unique<TGIFFrame>(this);
    copy->copyFrom(frame);
    const QList<TColor> colors = frame.Item->ColorMap;
    const int bits = frame.Item->BitsPerPixel;
    Clear();
    m_data = std::make_shared<TGIFData>();
    m_data->GlobalColorTable = colors;
    m_data->GlobalTableBits = std::clamp(bits, 1, 8);
    m_data->ColorResolution = m_data->GlobalTableBits;
    copy->HasLocalTable = false;
    copy->TopLeft = QPoint();
    m_frames.push_back(std::move(copy));
    GIFVersion = m_frames.front()->Extensions.empty() ? 1 : 2;
    CurrentFrame = 0;
    Changed();
}

void TGIFImage::Assign(const TBitmap &bitmap)
{
    Clear();
    m_data = std::make_shared<TGIFData>();
    AddFrame(bitmap);
    GIFVersion = 1;
    Changed();
}

void TGIFImage::AssignTo(TBitmap &bitmap)
{
    if (m_frames.empty()) {
        bitmap = TBitmap();
        return;
    }
    const int index = CurrentFrame >= 0 && CurrentFrame < FrameCount() ? CurrentFrame : 0;
    TGIFFrame &frame = *m_frames[size_t(index)];
    bitmap = frame.FrameBitmap();
    bitmap.transparent = frame.TransparentColor != NoneColor;
    bitmap.transparentColor = frame.TransparentColor;
}

void TGIFImage::Draw(QPainter &canvas, const QRect &rect)
{
    if (CurrentFrame < 0 || CurrentFrame >= FrameCount())
        return;
    TGIFFrame &frame = *m_frames[size_t(CurrentFrame)];
    const TBitmap &bitmap = frame.FrameBitmap();
    if (bitmap.empty())
        return;
    const TColor leaveOut = framework::TGraphic::Transparent() ? frame.TransparentColor : NoneColor;
    canvas.drawImage(rect, bitmap.toImage(leaveOut));
}

int TGIFImage::Width()
{
    if (CurrentFrame < 0 || CurrentFrame >= FrameCount())
        return 0;
    return m_frames[size_t(CurrentFrame)]->FrameBitmap().width();
}

int TGIFImage::Height()
{
    if (CurrentFrame < 0 || CurrentFrame >= FrameCount())
        return 0;
    return m_frames[size_t(CurrentFrame)]->FrameBitmap().height();
}

void TGIFImage::SetWidth(int)
{
    throw EInvalidGraphicOperation(QStringLiteral("Cannot change the Size of a GIF image"));
}

void TGIFImage::SetHeight(int)
{
    throw EInvalidGraphicOperation(QStringLiteral("Cannot change the Size of a GIF image"));
}

QList<quint32> TGIFImage::Palette()
{
    if (CurrentFrame < 0 || CurrentFrame >= FrameCount())
        return {};
    return m_frames[size_t(CurrentFrame)]->FrameBitmap().palette();
}

bool TGIFImage::Transparent() const
{
    return framework::TGraphic::Transparent()
        && std::any_of(m_frames.begin(), m_frames.end(),
            [](const std::unique_ptr<TGIFFrame> &frame) { return frame->TransparentColor != NoneColor; });
}

TGIFData &TGIFImage::mutableData()
{
    if (m_data.use_count() > 1)
        m_data = std::make_shared<TGIFData>(*m_data);
    return *m_data;
}

TGIFFrame &TGIFImage::AddFrame(const TBitmap &bitmap)
{
    auto frame = std::make_unique<TGIFFrame>(this);
    frame->SetFrameBitmap(bitmap);
    m_frames.push_back(std::move(frame));
    if (m_frames.size() >= 2)
        GIFVersion = 2;
    else if (GIFVersion == 0)
        GIFVersion = 1;
    if (CurrentFrame < 0)
        CurrentFrame = 0;
    coverFrame(*m_frames.back());
    return *m_frames.back();
}

void TGIFImage::DeleteFrame(int index)
{
    if (index < 0 || index >= FrameCount())
        throw framework::ERangeError();
    m_frames.erase(m_frames.begin() + index);
    if (CurrentFrame >= FrameCount())
        CurrentFrame = FrameCount() - 1;
}

void TGIFImage::Clear()
{
    m_frames.clear();
    m_data = std::make_shared<TGIFData>();
    GIFVersion = 0;
    ScreenWidth = 0;
    ScreenHeight = 0;
    BackgroundColor = NoneColor;
    m_backgroundIndex = -1;
    LoopEnabled = false;
    LoopCount = 1;
    CurrentFrame = -1;
}

void TGIFImage::coverFrame(const TGIFFrame &frame)
{
    ScreenWidth = quint16(std::clamp(frame.TopLeft.x() + frame.Item->Width, int(ScreenWidth), 65535));
    ScreenHeight = quint16(std::clamp(frame.TopLeft.y() + frame.Item->Height, int(ScreenHeight), 65535));
}

namespace {

std::unique_ptr<framework::TGraphic> newGifImage()
{
    return std::make_unique<TGIFImage>();
}

} // namespace

void registerGifImage()
{
    framework::RegisterFileFormat(
        QStringLiteral("gif"), QStringLiteral("CompuServe GIF Image"), typeid(TGIFImage), newGifImage);
    framework::RegisterClipboardFormat(TGIFImage::ClipboardFormatName, typeid(TGIFImage), newGifImage);
}

void unregisterGifImage()
{
    framework::UnregisterGraphicClass(typeid(TGIFImage));
}

} // namespace images
