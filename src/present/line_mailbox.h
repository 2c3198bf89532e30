#pragma once

#include <memory>
#include <utility>
#include <variant>

#include "line/line.h"
#include "present/mailbox.h"

namespace skav::present {

// Kept apart from mailbox.h, which the Win32 window includes after <windows.h>: that header's
// macros (interface) clash with the line's headers.
// The line's snapshots on their way to the window's thread: only the latest counts, since each
// one holds the whole line. Any thread hands in; the window's thread takes.
class LineMailbox : public line::LineEvents {
 public:
  explicit LineMailbox(Wake wake) : box_(std::move(wake)) {}

  void on_snapshot(std::shared_ptr<const line::LineSnapshot> snapshot) override {
    box_.put_snapshot(std::move(snapshot));
  }
  // The latest snapshot since the last take; null when none came. Window thread only.
  std::shared_ptr<const line::LineSnapshot> take() { return box_.take().snapshot; }

 private:
  Mailbox<line::LineSnapshot, std::monostate> box_;
};

}  // namespace skav::present
