#include "frontends/qt/log_view.h"

#include <QFont>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace skav::gui {

namespace {

QString to_qstring(const std::string& latin1) {
  return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
}

}  // namespace

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
  // The system's fixed-pitch font is a scalable outline font that stays crisp when zoomed.
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setWeight(QFont::Normal);
  font.setPointSize(11);
  setFont(font);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setUndoRedoEnabled(false);
  setAcceptDrops(false);
  // Read-only keeps paste, drops and the context menu's editing away from the log; the
  // caret stays visible because the text is selectable by keyboard.
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void LogView::append_bytes(std::string_view text) {
  if (text.empty()) return;
  QScrollBar* bar = verticalScrollBar();
  bool at_bottom = bar->value() >= bar->maximum();
  bool follow = !textCursor().hasSelection();

  present::LogDocument::Change change = document_.append(text);
  if (change.cut_mid_line) {
    rebuild();
  } else {
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(to_qstring(change.shown));
    if (change.trimmed_blocks > 0) {
      QTextCursor front(document());
      front.movePosition(QTextCursor::Start);
      front.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                         static_cast<int>(change.trimmed_blocks));
      front.removeSelectedText();
    }
  }
  show_end(follow, at_bottom);
}

void LogView::erase_last() {
  std::string removed = document_.erase_last();
  if (removed.empty() || !present::LogDocument::shown(removed.back())) return;
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.deletePreviousChar();
  // A piece of a long line that is now empty goes with its break.
  std::size_t column = document_.column();
  if (removed.back() != '\n' && column > 0 && column % document_.width() == 0)
    end.deletePreviousChar();
}

void LogView::set_bytes(std::string_view bytes) {
  document_.assign(bytes);
  rebuild();
  show_end(true, true);
}

void LogView::clear_log() {
  document_.clear();
  clear();
}

void LogView::set_point_size(int points) {
  QFont larger = font();
  larger.setPointSize(points);
  setFont(larger);
}

void LogView::rebuild() { setPlainText(to_qstring(document_.display_text())); }

void LogView::show_end(bool follow, bool at_bottom) {
  if (follow) {
    // As in an edit control, appending moves the caret to the end and into view.
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    ensureCursorVisible();
  } else if (at_bottom) {
    // Keep the operator's selection, but keep showing the newest text.
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  }
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    copy();
    return;
  }
  // As the context menu offers; never a character for the MAC entry.
  if (event->matches(QKeySequence::SelectAll)) {
    selectAll();
    return;
  }
  if (event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste) ||
      event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo))
    return;
  auto send = [this](char c) {
    if (key_handler_) key_handler_(c);
  };
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      send('\r');
      return;
    case Qt::Key_Backspace:
      // Alt+Backspace is the edit control's undo: nothing for the log.
      if (!(event->modifiers() & Qt::AltModifier)) send('\b');
      return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Delete:
    case Qt::Key_Insert:
      return;
    default:
      break;
  }
  const QString text = event->text();
  for (QChar ch : text) {
    // The station takes 8-bit characters; anything outside Latin-1 has no such character.
    if (ch.unicode() < 0x100) send(static_cast<char>(ch.unicode()));
  }
}

bool LogView::canInsertFromMimeData(const QMimeData*) const { return false; }

void LogView::insertFromMimeData(const QMimeData*) {}

}  // namespace skav::gui
