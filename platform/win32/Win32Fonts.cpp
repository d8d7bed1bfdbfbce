// The toolkit's fonts: the described face where the system has it at the
// described size and weight, else an outline face that has it, and a
// label's font narrowed until its text fits its bevel.
#include "platform/win32/Win32Fonts.h"

#include <string.h>

#include "platform/EntryName.h"
#include "platform/win32/Win32Calls.h"

namespace platform {

namespace {

// What the font mapper made of a request.
struct RealisedFont {
  TEXTMETRICA metrics;
  char face[LF_FACESIZE];
};

bool Realise(HFONT font, RealisedFont* realised) {
  HDC dc = osGetDC(nullptr);
  if (dc == nullptr) return false;
  HGDIOBJ previous = osSelectObject(dc, font);
  const bool ok = osGetTextMetricsA(dc, &realised->metrics) &&
                  osGetTextFaceA(dc, sizeof realised->face, realised->face) > 0;
  osSelectObject(dc, previous);
  osReleaseDC(nullptr, dc);
  return ok;
}

// The asked height (negative: of the characters, as the description gives
// it; positive: of the cell) to a pixel, and the asked weight class.
bool HasSizeAndWeight(const TEXTMETRICA& metrics, int height, bool bold) {
  const int realised = height < 0 ? metrics.tmHeight - metrics.tmInternalLeading : metrics.tmHeight;
  const int asked = height < 0 ? -height : height;
  return realised - asked <= 1 && asked - realised <= 1 && (metrics.tmWeight >= FW_BOLD) == bold;
}

bool IsOutline(const TEXTMETRICA& metrics) { return (metrics.tmPitchAndFamily & TMPF_TRUETYPE) != 0; }

// Through CreateFontIndirectA, which the narrowing below needs anyway:
// one import fewer than CreateFontA. The defaults are the zeros.
HFONT CreateFace(const char* face, int height, int width, bool bold) {
  LOGFONTA logical;
  memset(&logical, 0, sizeof logical);
  logical.lfHeight = height;
  logical.lfWidth = width;
  logical.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  logical.lfCharSet = DEFAULT_CHARSET;
  for (size_t i = 0; i + 1 < sizeof logical.lfFaceName && face[i] != '\0'; ++i) {
    logical.lfFaceName[i] = face[i];
  }
  return osCreateFontIndirectA(&logical);
}

// Face names compare without case. The ones asked for are ASCII; a face the
// mapper put in their place may not be, and then simply is another face.
bool SameFace(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = LowerAscii(*a);
    const char y = LowerAscii(*b);
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

// "MS Sans Serif" is a bitmap face, as on Windows: it exists only at the
// sizes it was drawn for, and a mapper that lacks it picks some other,
// often wider, face. Its outline twin, which Windows has shipped since
// 2000, and after it the system's outline dialog face, scale to any size.
const char* OutlineTwin(const char* face) {
  return SameFace(face, "MS Sans Serif") ? "Microsoft Sans Serif" : nullptr;
}
constexpr char kDialogFace[] = "MS Shell Dlg 2";

}  // namespace

// Sizes a label to its text; leaves the size alone when it cannot be measured.
void MeasureText(HWND control, HFONT font, const char* text, int* width, int* height) {
  HDC dc = osGetDC(control);
  if (dc == nullptr) return;
  HGDIOBJ previous = osSelectObject(dc, font != nullptr ? font : osGetStockObject(SYSTEM_FONT));
  SIZE size;
  if (osGetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size) && size.cx > 0 && size.cy > 0) {
    *width = size.cx;
    *height = size.cy;
  }
  osSelectObject(dc, previous);
  osReleaseDC(control, dc);
}

// The described face where the mapper realises it at the asked size and
// weight; otherwise its outline twin, then the dialog face, each taken only
// when what the mapper gives is an outline font of that size and weight.
// When none is, the dialog face as the mapper realises it.
HFONT ResolveFont(const char* face, int height, bool bold) {
  struct Candidate {
    const char* face;
    bool sameFace;  // the mapper must not have substituted another face
    bool outline;
  };
  const Candidate candidates[] = {
      {face, true, false}, {OutlineTwin(face), true, true}, {kDialogFace, false, true}};
  HFONT font = nullptr;
  for (const Candidate& candidate : candidates) {
    if (candidate.face == nullptr) continue;
    if (font != nullptr) osDeleteObject(font);
    font = CreateFace(candidate.face, height, 0, bold);
    RealisedFont realised;
    if (font == nullptr || !Realise(font, &realised)) continue;
    if ((!candidate.sameFace || SameFace(realised.face, candidate.face)) &&
        (!candidate.outline || IsOutline(realised.metrics)) &&
        HasSizeAndWeight(realised.metrics, height, bold)) {
      break;
    }
  }
  return font;
}

// An outline font narrowed, its height kept, until text is at most limit
// pixels wide. The font itself when it fits or cannot be narrowed.
HFONT NarrowToFit(HWND control, HFONT font, const char* text, int limit) {
  int width = 0;
  int height = 0;
  MeasureText(control, font, text, &width, &height);
  RealisedFont realised;
  LOGFONTA logical;
  if (width <= limit || limit <= 0 || !Realise(font, &realised) || !IsOutline(realised.metrics) ||
      osGetObjectA(font, sizeof logical, &logical) != sizeof logical) {
    return font;
  }
  // The average character width scales the glyphs across; the first guess
  // is proportional, and rounding may need a step or two more.
  logical.lfWidth = MulDivRounded(realised.metrics.tmAveCharWidth, limit, width);
  for (int step = 0; step < 8 && logical.lfWidth > 0; ++step, --logical.lfWidth) {
    HFONT narrowed = osCreateFontIndirectA(&logical);
    if (narrowed == nullptr) break;
    MeasureText(control, narrowed, text, &width, &height);
    osDeleteObject(font);
    font = narrowed;
    if (width <= limit) break;
  }
  return font;
}

}  // namespace platform
