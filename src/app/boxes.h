// The two kinds of message box: a question with the program's own icon, and a
// report that closes by itself.
#ifndef KOMPAKTO_BOXES_H
#define KOMPAKTO_BOXES_H

#include "platform/platform.h"

constexpr uint32_t kQuestionStyle = kMbYesNoCancel | kMbUserIcon | kMbDefButton3;  // 0x283
constexpr uint32_t kDownloadStyle = kMbYesNoCancel | kMbUserIcon;                  // 0x83
constexpr uint32_t kConfirmStyle = kMbIconInformation | kMbSetForeground;          // 0x10040, an OK button
constexpr uint32_t kErrorStyle = kMbIconError | kMbSetForeground;                  // 0x10010, an OK button
constexpr uint32_t kConfirmTimeoutMs = 5555;

// Tells Windows that the program draws its boxes at the screen's scale, so
// that on a screen set above 100 % they are drawn sharp rather than stretched
// as a blurred picture: per monitor (v2) where Windows has it, so that a box
// follows the monitor it is on, otherwise for the whole system. Where Windows
// has neither, nothing changes. Before the first box: Windows fixes a
// process's awareness once it has shown a window.
void DeclareDpiAware();

// Beeps, brings the box to the front and shows the icon resource iconName;
// style must hold kMbUserIcon. Returns the button's identifier, 0 on failure.
int ShowIconBox(OsWindow owner, const char* text, const char* caption, const char* iconName, uint32_t style);

// Shows a box that closes itself after timeoutMs, or a plain box where the
// system has no such box.
int ShowTimedBox(OsWindow owner, const char* text, const char* caption, uint32_t style, uint16_t language,
                 uint32_t timeoutMs);

#endif
