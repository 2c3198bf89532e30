#pragma once

#include <QIcon>

namespace skav::gui {

// The application's icon, drawn at the usual sizes: a circuit board with a chip and an
// Ethernet socket.
QIcon app_icon();

}  // namespace skav::gui
