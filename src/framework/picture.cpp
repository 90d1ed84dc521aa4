#include "framework/picture.h"

#include <QFile>
#include <QMimeData>

#include <algorithm>
#include <vector>

namespace framework {

TGraphic::~TGraphic() = default;

void TGraphic::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    MemoryStream stream(file.readAll());
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const QString &fileName)
{
    MemoryStream stream;
    SaveToStream(stream);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
    if (file.write(stream.bytes()) != stream.size())
        throw Exception(QStringLiteral("Stream write error"));
}

void TGraphic::ReadData(MemoryStream &stream)
{
    quint8 header[4];
    if (stream.read(header, 4) != 4)
        throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
    const quint32 length
        = quint32(header[0]) | quint32(header[1]) << 8 | quint32(header[2]) << 16 | quint32(header[3]) << 24;
    const qint64 available = stream.size() - stream.position();
    if (qint64(length) > available)
        throw EInvalidGraphicOperation(QStringLiteral("Stream read error"));
    MemoryStream part(stream.bytes().mid(stream.position(), length));
    stream.setPosition(stream.position() + length);
    LoadFromStream(part);
}

void TGraphic::WriteData(MemoryStream &stream)
{
    MemoryStream part;
    SaveToStream(part);
    const quint32 length = quint32(part.size());
    const quint8 header[4] = { quint8(length), quint8(length >> 8), quint8(length >> 16), quint8(length >> 24) };
    stream.write(header, 4);
    stream.write(part.bytes());
}

void TGraphic::Assign(const TGraphic &source)
{
    if (&source == this)
        return;
    throw EInvalidGraphicOperation(QStringLiteral("Cannot assign this picture"));
}

bool TGraphic::Progress(TProgressStage stage, int percentDone, const QString &msg)
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, stage, percentDone, msg, abort);
    return abort;
}

void TGraphic::Changed()
{
    if (OnChange)
        OnChange(this);
}

namespace {

struct ClipboardFormat
{
    QString name;
    QString mimeType;
    std::type_index graphicClass;
    GraphicFactory create;
};

std::vector<GraphicFormat> &fileFormats()
{
    static std::vector<GraphicFormat> formats;
    return formats;
}

std::vector<ClipboardFormat> &clipboardFormats()
{
    static std::vector<ClipboardFormat> formats;
    return formats;
}

QString normalisedExtension(QString extension)
{
    if (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    return extension.toLower();
}

} // namespace

void RegisterFileFormat(
    const QString &extension, const QString &description, std::type_index graphicClass, GraphicFactory create)
{
    const QString key = normalisedExtension(extension);
    auto &formats = fileFormats();
    // A later registration of the same extension replaces the earlier one, as the picture
    // support's registration does.
    std::erase_if(formats, [&](const GraphicFormat &f) { return f.extension == key; });
    formats.push_back(GraphicFormat { key, description, graphicClass, std::move(create) });
}

void UnregisterGraphicClass(std::type_index graphicClass)
{
    std::erase_if(fileFormats(), [&](const GraphicFormat &f) { return f.graphicClass == graphicClass; });
    std::erase_if(clipboardFormats(), [&](const ClipboardFormat &f) { return f.graphicClass == graphicClass; });
}

const GraphicFormat *findGraphicFormat(const QString &extension)
{
    const QString key = normalisedExtension(extension);
    for (const GraphicFormat &format : fileFormats())
        if (format.extension == key)
            return &format;
    return nullptr;
}

QList<GraphicFormat> graphicFormats()
{
    return QList<GraphicFormat>(fileFormats().begin(), fileFormats().end());
}

QString graphicFilter()
{
    QStringList entries;
    for (const GraphicFormat &format : fileFormats())
        entries << QStringLiteral("%1 (*.%2)").arg(format.description, format.extension);
    return entries.join(QStringLiteral(";;"));
}

QString RegisterClipboardFormat(const QString &formatName, std::type_index graphicClass, GraphicFactory create)
{
    const QString mimeType = QStringLiteral("application/x-qt-windows-mime;value=\"%1\"").arg(formatName);
    auto &formats = clipboardFormats();
    std::erase_if(formats, [&](const ClipboardFormat &f) { return f.name == formatName; });
    formats.push_back(ClipboardFormat { formatName, mimeType, graphicClass, std::move(create) });
    return mimeType;
}

QString clipboardMimeType(const QString &formatName)
{
    for (const ClipboardFormat &format : clipboardFormats())
        if (format.name == formatName)
            return format.mimeType;
    return QString();
}

std::unique_ptr<TGraphic> createGraphicForClipboard(const QMimeData &data)
{
    for (const ClipboardFormat &format : clipboardFormats())
        if (data.hasFormat(format.mimeType))
            return format.create();
    return nullptr;
}

} // namespace framework
