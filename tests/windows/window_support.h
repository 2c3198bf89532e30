#pragma once

// What the window's tests share: the display they need, the message pump that stands in for
// the window's loop, reading a control's text, and per-user choices of their own.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/platform/wide_windows.h"
#include "frontends/win32/operator_panel.h"
#include "frontends/win32/window_choices.h"

namespace skav::windows::gui {

inline bool have_display() { return std::getenv("DISPLAY") != nullptr; }

#define SKAV_REQUIRE_DISPLAY()                                                     \
  do {                                                                             \
    if (!::skav::windows::gui::have_display())                                     \
      GTEST_SKIP() << "needs a display: run by scripts/test-windows.sh";           \
  } while (0)

// Hands every queued message to its window, as the window's loop would.
inline void pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// The operator panel inside a main window.
inline HWND panel_of(HWND frame) {
  return FindWindowExW(frame, nullptr, OperatorPanel::kClass, nullptr);
}

inline std::string text_of(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline std::string pane_text(HWND status, int part) {
  char text[256] = {};
  SendMessageA(status, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
  return text;
}

// A control's text and a status bar part's, read with the wide calls and given as UTF-8: what
// lies outside the ANSI code page comes back as it is.
inline std::string wide_text_of(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return platform::utf8_of_wide(text);
}

inline std::string wide_pane_text(HWND status, int part) {
  std::wstring text(LOWORD(SendMessageW(status, SB_GETTEXTLENGTHW, part, 0)) + 1u, L'\0');
  text.resize(LOWORD(SendMessageW(status, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data()))));
  return platform::utf8_of_wide(text);
}

// The windows of these tests keep their per-user choices under a key of their own, emptied
// when a FreshChoices is made (before the window, as a member declared ahead of it).
inline constexpr const char* kChoicesKey = "Software\\SKAV\\skav-gui-test";

struct FreshChoices {
  FreshChoices() { WindowChoices(kChoicesKey).forget(); }
};

}  // namespace skav::windows::gui
