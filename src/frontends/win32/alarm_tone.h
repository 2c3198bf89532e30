#pragma once

namespace skav::windows::gui {

// Calls the operator when a board fails or times out: the system's error sound (the sound the
// user's scheme gives "Critical Stop"), or where the scheme has none or no sound device plays
// it, the system's beep. Returns at once; the sound plays on.
void play_alarm_tone();

}  // namespace skav::windows::gui
