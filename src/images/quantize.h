#pragma once

#include "images/bitmap.h"

namespace images {

// Reduces a 24- or 32-bit bitmap to 8 bits per pixel with at most 256 colours.
// - A bitmap of at most 256 distinct colours keeps them exactly.
// - Otherwise Xiaolin Wu's variance-minimising quantiser picks the palette (cuts of the colour
//   cube, on a 5-bit-per-channel histogram, that minimise the summed squared error) and every
//   pixel takes the colour of its cube cell's box; no dithering, which keeps flat areas flat and
//   compresses well.
// - grayscale: a palette of 256 grey levels, each pixel its luminance (ITU-R BT.601 weights).
// keep (not NoneColor): pixels of exactly this colour get a palette entry of their own that no
// other pixel maps to, so a transparent colour survives the reduction.
// Indexed bitmaps are returned unchanged.
TBitmap reduceTo8Bits(const TBitmap &source, bool grayscale, TColor keep = NoneColor);

} // namespace images
