#include "frontends/win32/interface_ports.h"

#include <commctrl.h>

#include <algorithm>

#include "core/platform/wide_windows.h"
#include "frontends/win32/resource.h"

namespace skav::windows::gui {

namespace {

// The section's place in dialog units, below the dialog's own controls.
constexpr int kLeft = 9;
constexpr int kWidth = 281;
constexpr int kCheckHeight = 10;
constexpr int kListHeight = 50;
constexpr int kNoteHeight = 18;
constexpr int kGap = 4;

RECT dialog_units(HWND dialog, int left, int top, int width, int height) {
  RECT r{left, top, left + width, top + height};
  MapDialogRect(dialog, &r);
  return r;
}

HWND make_control(HWND dialog, DWORD ex_style, const wchar_t* type, const char* text, DWORD style,
                  const RECT& place, int id) {
  HWND control = CreateWindowExW(ex_style, type, platform::wide_of(text).c_str(), WS_CHILD | WS_VISIBLE | style, place.left,
                                 place.top, place.right - place.left, place.bottom - place.top,
                                 dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)),
                                 nullptr);
  if (control != nullptr)
    SendMessageW(control, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
  return control;
}

}  // namespace

bool add_ports_section(HWND dialog, const InterfaceChoice& choice) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  // The dialog's template ends at 94 units; the section goes below it.
  int top = 94;
  const RECT check_place = dialog_units(dialog, kLeft, top, kWidth, kCheckHeight);
  top += kCheckHeight + kGap;
  const RECT list_place = dialog_units(dialog, kLeft, top, kWidth, kListHeight);
  top += kListHeight + kGap;
  const RECT note_place = dialog_units(dialog, kLeft, top, kWidth, kNoteHeight);
  top += kNoteHeight + kGap;
  const RECT bottom = dialog_units(dialog, 0, 0, 0, top);
  RECT client{};
  GetClientRect(dialog, &client);
  RECT frame{};
  GetWindowRect(dialog, &frame);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left,
               frame.bottom - frame.top + (bottom.bottom - client.bottom),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  HWND check = make_control(dialog, 0, L"BUTTON", kSeveralPorts, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP,
                            check_place, IDC_SEVERAL_PORTS);
  HWND list = make_control(dialog, WS_EX_CLIENTEDGE, WC_LISTVIEWW, "",
                           LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                               WS_TABSTOP,
                           list_place, IDC_PORT_LIST);
  HWND note = make_control(dialog, 0, L"STATIC", kPortsNote, SS_LEFT, note_place, IDC_PORTS_NOTE);
  if (check == nullptr || list == nullptr || note == nullptr) return false;
  // After the adapter list in the tab order, before OK.
  SetWindowPos(check, GetDlgItem(dialog, IDC_ADAPTERS), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetWindowPos(list, check, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
               LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = list_place.right - list_place.left - GetSystemMetrics(SM_CXVSCROLL) - 4;
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  for (std::size_t i = 0; i < choice.adapters.size(); ++i) {
    // Wide: a friendly name may lie outside the ANSI code page.
    std::wstring text = platform::wide_of(choice.adapters[i]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = text.data();
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  for (int i : choice.ticked)
    if (i >= 0 && static_cast<std::size_t>(i) < choice.adapters.size())
      ListView_SetCheckState(list, i, TRUE);
  SendMessageW(check, BM_SETCHECK, choice.ticked.size() >= 2 ? BST_CHECKED : BST_UNCHECKED, 0);
  return true;
}

void read_ports_section(HWND dialog, InterfaceChoice& choice) {
  HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
  if (list == nullptr) return;
  choice.several = IsDlgButtonChecked(dialog, IDC_SEVERAL_PORTS) == BST_CHECKED;
  choice.ticked.clear();
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i)
    if (ListView_GetCheckState(list, i)) choice.ticked.push_back(i);
}

void follow_ticks(HWND dialog, const InterfaceChoice& choice) {
  if (GetDlgItem(dialog, IDC_PORT_LIST) == nullptr) return;
  InterfaceChoice now;
  read_ports_section(dialog, now);
  HWND adapters = GetDlgItem(dialog, IDC_ADAPTERS);
  // While several ports run, the list shows the first port's adapter: it keeps it.
  EnableWindow(adapters, !choice.running_several && !now.several);
  if (choice.running_several || !now.several || now.ticked.empty()) return;
  SendMessageW(adapters, CB_SETCURSEL, static_cast<WPARAM>(now.ticked.front()), 0);
}

}  // namespace skav::windows::gui
