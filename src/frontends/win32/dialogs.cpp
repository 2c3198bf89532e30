#include "frontends/win32/dialogs.h"

#include <commctrl.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <string>

#include "frontends/win32/interface_ports.h"
#include "core/platform/wide_windows.h"
#include "frontends/win32/resource.h"
#include "present/interface_choice.h"
#include "present/log_file.h"

namespace skav::windows::gui {

namespace {

constexpr const char* kTitle = present::kTitle;
constexpr int kPairs = 6;

void show_message(HWND owner, const char* text, UINT style) {
  MessageBoxW(owner, platform::wide_of(text).c_str(), platform::wide_of(kTitle).c_str(), style);
}

// --- The icon ---------------------------------------------------------------------------

void fill(HDC dc, int x, int y, int w, int h, COLORREF color, int scale) {
  RECT r{x * scale / 32, y * scale / 32, (x + w) * scale / 32, (y + h) * scale / 32};
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// --- The About box ------------------------------------------------------------------------

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_SETICON, static_cast<WPARAM>(lparam), 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// --- The Network Interface dialog --------------------------------------------------------

// The pair fields take hexadecimal digits and editing keys only.
LRESULT CALLBACK pair_proc(HWND field, UINT message, WPARAM wparam, LPARAM lparam) {
  auto base = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(field, GWLP_USERDATA));
  if (message == WM_CHAR) {
    // A character beyond ASCII arrives as UTF-16: its low byte alone could pass for a digit.
    if (wparam >= 0x80 || !present::pair_field_takes(static_cast<char>(wparam))) {
      MessageBeep(MB_OK);
      return 0;
    }
  }
  return CallWindowProcW(base, field, message, wparam, lparam);
}

std::string field_text(HWND dialog, int id) {
  wchar_t text[8] = {};
  int n = GetDlgItemTextW(dialog, id, text, static_cast<int>(std::size(text)));
  return platform::utf8_of_wide(std::wstring_view(text, n > 0 ? static_cast<std::size_t>(n) : 0));
}

void init_interface_dialog(HWND dialog, InterfaceChoice& choice) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&choice));
  HWND list = GetDlgItem(dialog, IDC_ADAPTERS);
  for (const std::string& adapter : choice.adapters)
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(platform::wide_of(adapter).c_str()));
  const int count = static_cast<int>(choice.adapters.size());
  SendMessageW(list, CB_SETCURSEL, choice.selected >= 0 && choice.selected < count ? choice.selected : -1, 0);
  for (int i = 0; i < kPairs; ++i) {
    HWND field = GetDlgItem(dialog, IDC_PAIR0 + i);
    SendMessageW(field, EM_LIMITTEXT, 2, 0);
    const wchar_t pair[3] = {static_cast<unsigned char>(choice.digits[2 * i]),
                             static_cast<unsigned char>(choice.digits[2 * i + 1]), L'\0'};
    SetWindowTextW(field, pair);
    auto base = SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pair_proc));
    SetWindowLongPtrW(field, GWLP_USERDATA, base);
  }
  if (choice.ports_offered && add_ports_section(dialog, choice)) follow_ticks(dialog, choice);
}

// OK: every field must hold a whole byte (a short one would shift or cut the address), and the
// station must take the change.
void accept_interface_dialog(HWND dialog) {
  auto* choice = reinterpret_cast<InterfaceChoice*>(GetWindowLongPtrW(dialog, DWLP_USER));
  std::array<std::string, kPairs> pairs;
  for (int i = 0; i < kPairs; ++i) pairs[static_cast<std::size_t>(i)] = field_text(dialog, IDC_PAIR0 + i);
  const present::PairsCheck check = present::check_pairs(pairs);
  if (check.bad_field) {
    show_message(dialog, present::kPairsNeedTwoDigits, MB_OK | MB_ICONEXCLAMATION);
    HWND field = GetDlgItem(dialog, IDC_PAIR0 + *check.bad_field);
    SetFocus(field);
    SendMessageW(field, EM_SETSEL, 0, -1);
    return;
  }
  if (choice->ports_offered) {
    read_ports_section(dialog, *choice);
    if (choice->several && choice->ticked.size() < 2) {
      show_message(dialog, present::kTickTwoPorts, MB_OK | MB_ICONEXCLAMATION);
      SetFocus(GetDlgItem(dialog, IDC_PORT_LIST));
      return;
    }
  }
  const MacDigits::Digits& digits = check.digits;
  const int index = static_cast<int>(SendDlgItemMessageW(dialog, IDC_ADAPTERS, CB_GETCURSEL, 0, 0));
  if (choice->apply && !choice->apply(index, digits)) {
    show_message(dialog, present::kRunHoldsTheAdapter, MB_OK | MB_ICONINFORMATION);
    return;
  }
  choice->selected = index;
  choice->digits = digits;
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK interface_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      init_interface_dialog(dialog, *reinterpret_cast<InterfaceChoice*>(lparam));
      return TRUE;  // the focus goes to the first field
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        accept_interface_dialog(dialog);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      if (LOWORD(wparam) == IDC_SEVERAL_PORTS && HIWORD(wparam) == BN_CLICKED) {
        follow_ticks(dialog, *reinterpret_cast<InterfaceChoice*>(GetWindowLongPtrW(dialog, DWLP_USER)));
        return TRUE;
      }
      break;
    case WM_NOTIFY: {
      // A tick set or cleared in the ports' list.
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
      if (change->hdr.idFrom == IDC_PORT_LIST && change->hdr.code == LVN_ITEMCHANGED &&
          (change->uChanged & LVIF_STATE) != 0) {
        follow_ticks(dialog, *reinterpret_cast<InterfaceChoice*>(GetWindowLongPtrW(dialog, DWLP_USER)));
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return FALSE;
}

}  // namespace

HICON make_app_icon(int size) {
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = size;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_RGB;
  HDC screen = GetDC(nullptr);
  void* bits = nullptr;
  HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                   &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, color);
  // The board, its traces, the chip with its pins, and the Ethernet socket at the edge, on a
  // 32-unit grid.
  fill(dc, 0, 0, 32, 32, RGB(0, 0, 0), size);
  fill(dc, 1, 4, 30, 24, RGB(0x0b, 0x4d, 0x1f), size);
  fill(dc, 2, 5, 28, 22, RGB(0x1f, 0x8a, 0x3e), size);
  for (int y : {12, 16, 20}) fill(dc, 16, y, 6, 1, RGB(0xe8, 0xc0, 0x4a), size);
  for (int i = 0; i < 4; ++i) fill(dc, 4, 10 + i * 4, 12, 1, RGB(0xd0, 0xd0, 0xd0), size);
  fill(dc, 6, 8, 8, 16, RGB(0x20, 0x20, 0x24), size);
  fill(dc, 21, 9, 9, 14, RGB(0xc8, 0xc8, 0xc8), size);
  fill(dc, 23, 11, 6, 10, RGB(0x30, 0x30, 0x30), size);
  SelectObject(dc, old);
  DeleteDC(dc);
  // Opaque where the board is, transparent around it.
  auto* pixels = static_cast<std::uint32_t*>(bits);
  for (int i = 0; i < size * size; ++i)
    pixels[i] = (pixels[i] & 0xFFFFFF) != 0 ? (pixels[i] | 0xFF000000u) : 0;
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  ICONINFO info{TRUE, 0, 0, mask, color};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  DeleteObject(color);
  return icon;
}

void show_about_box(HINSTANCE instance, HWND owner, HICON icon) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, about_proc,
                  reinterpret_cast<LPARAM>(icon));
}

bool run_interface_dialog(HINSTANCE instance, HWND owner, InterfaceChoice& choice) {
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_DIAGIF), owner, interface_proc,
                         reinterpret_cast<LPARAM>(&choice)) == IDOK;
}

}  // namespace skav::windows::gui
