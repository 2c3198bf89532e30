#pragma once

#include <QPlainTextEdit>

#include <functional>
#include <string>
#include <string_view>

#include "present/log_document.h"

namespace skav::gui {

// The log window: shows the log's bytes in a fixed-pitch font without wrapping. Only the
// station changes it; the operator can select (Ctrl+A: all), scroll and copy. Typed
// characters, Enter (13) and Backspace (8) go to the key handler; cursor, page, Home, End and
// Delete keys do nothing.
class LogView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit LogView(QWidget* parent = nullptr);

  // Appends bytes at the end of the log, trimming its oldest lines at the limit.
  void append_bytes(std::string_view text);
  // Removes the last character ("\r\n" counts as one).
  void erase_last();
  // Replaces the whole log.
  void set_bytes(std::string_view bytes);
  void clear_log();
  // The font's size in points; the bytes shown do not change.
  void set_point_size(int points);
  // The log exactly as appended.
  const std::string& bytes() const { return document_.bytes(); }
  const present::LogDocument& log_document() const { return document_; }

  // Receives each 8-bit character the operator types; none: typing does nothing.
  void set_key_handler(std::function<void(char)> handler) { key_handler_ = std::move(handler); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  void show_end(bool follow, bool at_bottom);
  void rebuild();

  present::LogDocument document_;
  std::function<void(char)> key_handler_;
};

}  // namespace skav::gui
