#include "frontends/cli/keyboard.h"

namespace skav::cli {

void KeyboardReader::post(const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    char c = bytes[i];
    if (c == '\n' && after_cr_) {
      after_cr_ = false;
      continue;
    }
    after_cr_ = c == '\r';
    if (c == '\n' || c == '\r') c = 13;
    if (c == 0x7f) c = 8;
    deliver_(c);
  }
}

}  // namespace skav::cli
