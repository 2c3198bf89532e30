// The window's picture for the documentation: the screen's pixels under the window, frame and
// menu included, written as PNG by the platform's GDI+.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "frontends/win32/main_window.h"

namespace skav::windows::gui {

namespace {

// GDI+'s built-in PNG encoder.
constexpr CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3,
                               {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

}  // namespace

bool MainWindow::save_picture(const std::wstring& file) const {
  RECT rect{};
  if (!GetWindowRect(frame_, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  bool saved = false;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (copied && Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    Gdiplus::GpBitmap* image = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok) {
      saved = Gdiplus::DllExports::GdipSaveImageToFile(image, file.c_str(), &kPngEncoder,
                                                      nullptr) == Gdiplus::Ok;
      Gdiplus::DllExports::GdipDisposeImage(image);
    }
    Gdiplus::GdiplusShutdown(token);
  }
  DeleteObject(bitmap);
  return saved;
}

}  // namespace skav::windows::gui
