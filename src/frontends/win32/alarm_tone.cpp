#include "frontends/win32/alarm_tone.h"

#include <windows.h>
#include <mmsystem.h>

namespace skav::windows::gui {

void play_alarm_tone() {
  // SND_NODEFAULT: a scheme without the event gives false here, not the quieter default sound,
  // and the beep follows.
  if (!PlaySoundA("SystemHand", nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT)) MessageBeep(MB_ICONHAND);
}

}  // namespace skav::windows::gui
