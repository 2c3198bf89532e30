#pragma once

// UTF-8 and the UTF-16 of Windows' wide calls (windows only). Text that is not valid UTF-8 or
// UTF-16 gives the replacement character where it breaks, never an error.

#include <string>
#include <string_view>

namespace skav::platform {

std::wstring wide_of(std::string_view utf8);
std::string utf8_of_wide(std::wstring_view wide);
// The UTF-16 units wide_of(utf8) has, without making it: a control's positions count these.
std::size_t wide_size(std::string_view utf8);

}  // namespace skav::platform
