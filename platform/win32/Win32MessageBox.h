// The installer's modal message boxes: one OK button, the application
// title as caption, centred on the screen.
#pragma once

namespace platform {

// icon: 0 or one of the MB_ICON* values.
void ShowModalMessage(const char* text, unsigned icon);

}  // namespace platform
