#pragma once

#include "framework/memorystream.h"
#include "images/gifimage.h"

#include <QString>

#include <gtest/gtest.h>

inline void loadGif(images::TGIFImage &image, const QByteArray &bytes)
{
    framework::MemoryStream stream(bytes);
    image.LoadFromStream(stream);
}

inline QByteArray saveGif(images::TGIFImage &image)
{
    framework::MemoryStream stream;
    image.SaveToStream(stream);
    return stream.bytes();
}

// The text of the EInvalidGraphicOperation the call raises; empty when it raises nothing.
template<typename Fn> QString graphicError(Fn &&fn)
{
    try {
        fn();
    } catch (const framework::EInvalidGraphicOperation &e) {
        return e.message();
    }
    return QString();
}
