#include "framework/propertyfiler.h"

#include "framework/component.h"

#include <QDataStream>
#include <QIODevice>

namespace framework {

namespace {

class WritingFiler : public TFiler
{
public:
    StoredProperties stored;
    void DefineBinaryProperty(const QString &name, const Reader &, const Writer &writer, bool hasData) override
    {
        if (!hasData || !writer)
            return;
        MemoryStream stream;
        writer(stream);
        stored.insert(name, stream.bytes());
    }
};

class ReadingFiler : public TFiler
{
public:
    explicit ReadingFiler(const StoredProperties &stored)
        : m_stored(stored)
    { }
    void DefineBinaryProperty(const QString &name, const Reader &reader, const Writer &, bool) override
    {
        const auto found = m_stored.find(name);
        if (found == m_stored.end() || !reader)
            return;
        MemoryStream stream(found.value());
        reader(stream);
    }

private:
    const StoredProperties &m_stored;
};

} // namespace

StoredProperties writeStoredProperties(TComponent &component)
{
    WritingFiler filer;
    component.DefineProperties(filer);
    return filer.stored;
}

void readStoredProperties(TComponent &component, const StoredProperties &stored)
{
    ReadingFiler filer(stored);
    component.DefineProperties(filer);
}

QByteArray encodeStoredProperties(const StoredProperties &stored)
{
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << stored;
    return block;
}

StoredProperties decodeStoredProperties(const QByteArray &block)
{
    QDataStream in(block);
    in.setVersion(QDataStream::Qt_6_0);
    StoredProperties stored;
    in >> stored;
    if (in.status() != QDataStream::Ok)
        return {};
    return stored;
}

} // namespace framework
