#pragma once

#include <windows.h>

namespace Gdiplus {
class Image;
}

// Decodes the JPEG resource of type "JGP" with the id from the exe into a
// new GDI+ image. *ppImage is written only when an image object was made;
// it may be in an error state when the data does not decode. The memory
// the image reads from stays allocated for the rest of the process.
void LoadImageFromResource(WORD nId, Gdiplus::Image** ppImage);

// Whether an image exists and decoded.
bool IsImageUsable(Gdiplus::Image* pImage);
