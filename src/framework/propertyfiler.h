#pragma once

#include "framework/memorystream.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>

namespace framework {

class TComponent;

// The stored form of a component's binary properties: name -> the bytes its writer produced.
// This is what a form file keeps for properties a component defines itself.
using StoredProperties = QMap<QString, QByteArray>;

// Handed to TComponent::DefineProperties to declare properties stored as raw bytes.
class TFiler
{
public:
    // reader gets a stream positioned at the start of the stored bytes; writer appends to an empty
    // stream. hasData false means nothing is written for the property.
    using Reader = std::function<void(MemoryStream &stream)>;
    using Writer = std::function<void(MemoryStream &stream)>;

    virtual ~TFiler() = default;
    virtual void DefineBinaryProperty(const QString &name, const Reader &reader, const Writer &writer, bool hasData)
        = 0;
};

// Collects the component's defined binary properties.
StoredProperties writeStoredProperties(TComponent &component);
// Hands each stored property the component defines to its reader; unknown names are ignored.
// Runs while the component is loading (between beginLoading and endLoading), as form reading does.
void readStoredProperties(TComponent &component, const StoredProperties &stored);

// Serialises stored properties to a byte block and back (for settings and tests). Malformed input
// yields an empty set, never a partial read beyond the block.
QByteArray encodeStoredProperties(const StoredProperties &stored);
StoredProperties decodeStoredProperties(const QByteArray &block);

} // namespace framework
