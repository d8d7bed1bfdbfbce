// The Win32 toolkit's fonts (Win32Toolkit.cpp): which face a described
// font is realised in, and how a label's is narrowed to fit.
#pragma once

#include <windows.h>

namespace platform {

// What MulDiv gives for the sizes of a window and its fonts (a product far
// below 2^31, a positive divisor), rounded half away from zero as it
// rounds, without an import of its own in a program that counts its bytes.
inline int MulDivRounded(int value, int by, int divisor) {
  const int product = value * by;
  return (product + (product < 0 ? -divisor : divisor) / 2) / divisor;
}

// Sizes a label to its text; leaves the size alone when it cannot be measured.
void MeasureText(HWND control, HFONT font, const char* text, int* width, int* height);

// The font for a described face, height (negative: of the characters, as
// the description gives it; positive: of the cell) and weight: the face
// itself where the system realises it so, else its outline twin, else the
// outline dialog face (ResolveFont in Win32Fonts.cpp says when each).
HFONT ResolveFont(const char* face, int height, bool bold);

// An outline font narrowed, its height kept, until text is at most limit
// pixels wide in control. The font itself when it fits or cannot be
// narrowed; otherwise the narrowed one, font deleted.
HFONT NarrowToFit(HWND control, HFONT font, const char* text, int limit);

}  // namespace platform
