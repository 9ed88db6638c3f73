#pragma once

#include <windows.h>

// The window's artwork: JPEG resources of type "JGP" in the exe, decoded
// straight into 24-bit DIB sections that the window copies to the screen
// as they are. The decoder writes into the section; no other copy of the
// pixels outlives a call.

// A top-down 24-bit DIB section of cx by cy for artwork, or null. The
// caller owns it.
HBITMAP CreateArtBitmap(int cx, int cy);

// Decodes the resource with the id and writes it, scaled to the section's
// size, into hBitmap, a section from CreateArtBitmap. False, with the
// section's pixels undefined, when the resource is missing or does not
// decode. Needs COM on the calling thread.
bool DrawResourceInto(WORD nId, HBITMAP hBitmap);

// CreateArtBitmap and DrawResourceInto in one; null when either fails.
HBITMAP LoadBitmapFromResource(WORD nId, int cx, int cy);
