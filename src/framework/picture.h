#pragma once

#include "framework/exception.h"
#include "framework/memorystream.h"

#include <QList>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <typeindex>

class QMimeData;
class QPainter;

namespace framework {

// Raised by picture classes for any failure to read, write or change a picture.
class EInvalidGraphicOperation : public Exception
{
public:
    using Exception::Exception;
};

enum class TProgressStage
{
    psStarting,
    psRunning,
    psEnding
};

class TGraphic;

// Progress of a long operation (decoding, encoding): psStarting with 0, psRunning with the
// percentage done, psEnding with 100 or with the error text in msg. Setting abort cancels the
// operation quietly (the picture keeps no partial result of it).
using TProgressEvent
    = std::function<void(TGraphic *sender, TProgressStage stage, int percentDone, const QString &msg, bool &abort)>;

// Base of picture classes: a picture that can be loaded from and saved to a stream, a file, the
// stored-property form and the clipboard's data, and drawn into a rectangle of a painter.
// Not thread-safe: a picture belongs to the thread that uses it. Colours are 0x00RRGGBB.
class TGraphic
{
public:
    TGraphic() = default;
    virtual ~TGraphic();
    TGraphic(const TGraphic &) = delete;
    TGraphic &operator=(const TGraphic &) = delete;

    // Reads the picture from the stream's position to its end.
    virtual void LoadFromStream(MemoryStream &stream) = 0;
    // Writes the picture at the stream's position.
    virtual void SaveToStream(MemoryStream &stream) = 0;
    // File forms of the above; a file that cannot be opened raises framework::Exception.
    void LoadFromFile(const QString &fileName);
    void SaveToFile(const QString &fileName);

    // Stored-property form: the picture's stream form preceded by its length (32 bits, little
    // endian). ReadData never reads past the stored length.
    virtual void ReadData(MemoryStream &stream);
    virtual void WriteData(MemoryStream &stream);

    // Clipboard data (QMimeData is the clipboard's unit here). The GUI clipboard itself is reached
    // by the Gui-level helpers of the picture classes.
    virtual void LoadFromClipboardFormat(const QMimeData &data) = 0;
    virtual void SaveToClipboardFormat(QMimeData &data) = 0;

    // Copies another picture into this one. The base takes only itself and raises
    // EInvalidGraphicOperation "Cannot assign this picture" for anything else; classes override
    // it for the sources they can take.
    virtual void Assign(const TGraphic &source);

    virtual void Draw(QPainter &canvas, const QRect &rect) = 0;

    virtual int Width() = 0;
    virtual int Height() = 0;
    virtual void SetWidth(int value) = 0;
    virtual void SetHeight(int value) = 0;
    virtual bool Empty() const = 0;
    // Colours of the picture's palette (empty when it has none).
    virtual QList<quint32> Palette() = 0;

    virtual bool Transparent() const { return m_transparent; }
    virtual void SetTransparent(bool value) { m_transparent = value; }

    TProgressEvent OnProgress;
    std::function<void(TGraphic *sender)> OnChange;

protected:
    // Calls OnProgress when assigned; returns true when the handler asked to abort.
    bool Progress(TProgressStage stage, int percentDone, const QString &msg = QString());
    void Changed();

private:
    bool m_transparent = false;
};

using GraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

// The picture-format registry: which class reads a file extension and which clipboard format a
// class offers. GUI thread only, as the picture support it stands for.
struct GraphicFormat
{
    QString extension; // lower case, without the dot
    QString description;
    std::type_index graphicClass;
    GraphicFactory create;
};

void RegisterFileFormat(
    const QString &extension, const QString &description, std::type_index graphicClass, GraphicFactory create);
// Removes every registration (file formats and clipboard formats) of the class.
void UnregisterGraphicClass(std::type_index graphicClass);
// The format registered for an extension (with or without dot, any case); null when none.
const GraphicFormat *findGraphicFormat(const QString &extension);
QList<GraphicFormat> graphicFormats();
// A filter text for file dialogs: "Description (*.ext)" entries joined by ";;".
QString graphicFilter();

// Registers a clipboard format name for a class and returns the clipboard data format (MIME
// string) under which the class stores its data. Named formats use Qt's portable form for a
// registered clipboard format, so other programs see the format under its name.
QString RegisterClipboardFormat(const QString &formatName, std::type_index graphicClass, GraphicFactory create);
// The MIME string of a registered clipboard format name (empty when unknown).
QString clipboardMimeType(const QString &formatName);
// A new picture of the first registered class whose clipboard format the data holds; null when
// none does.
std::unique_ptr<TGraphic> createGraphicForClipboard(const QMimeData &data);

} // namespace framework
