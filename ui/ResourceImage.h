#pragma once

#include <windows.h>

namespace Gdiplus {
class Image;
}

// Decodes the JPEG resource of type "JGP" with the id from the exe into a
// new GDI+ image. *ppImage is written only when an image object was made;
// it may be in an error state when the data does not decode. A usable
// image holds its pixels only: neither the data it was decoded from nor
// the decoder outlives the call.
void LoadImageFromResource(WORD nId, Gdiplus::Image** ppImage);

// Whether an image exists and decoded.
bool IsImageUsable(Gdiplus::Image* pImage);
