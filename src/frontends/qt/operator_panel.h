#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

#include <array>
#include <optional>
#include <vector>

#include "core/station/plan.h"
#include "present/marks.h"
#include "present/panel.h"
#include "present/totals.h"

class QHBoxLayout;
class QPainter;
class QRectF;
class QLabel;
class QProgressBar;
class QPushButton;

namespace skav::gui {

class PortTile;

// Draws `mark`'s outline into `box` (a square is best) in `colour`, with a pen of the mark's
// width: the same shape wherever a word is shown.
void paint_mark(QPainter& painter, const QRectF& box, present::Mark mark, const QColor& colour);

// A word's shape, drawn (not a font's glyph), as tall as its row.
class MarkView : public QWidget {
  Q_OBJECT

 public:
  explicit MarkView(QWidget* parent = nullptr);
  void show_mark(present::Mark mark, const QColor& colour);
  // The mark's side in pixels.
  void set_side(int pixels);
  present::Mark mark() const { return mark_; }
  QColor colour() const { return colour_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  present::Mark mark_ = present::Mark::kHourglass;
  QColor colour_;
};

// The verdict in a status-bar pane of its own while the panel is folded: the shape and the
// word on the word's background.
class VerdictPane : public QFrame {
  Q_OBJECT

 public:
  explicit VerdictPane(QWidget* parent = nullptr);
  void show_panel(const present::Panel& panel);

  QColor background() const;
  QLabel* word_label() const { return word_; }
  MarkView* mark_view() const { return mark_; }

 private:
  MarkView* mark_;
  QLabel* word_;
};

// The board in progress or the last one: its number and address, its state in one large word
// on a background of the same meaning, and the line that says what failed.
class VerdictPanel : public QFrame {
  Q_OBJECT

 public:
  explicit VerdictPanel(QWidget* parent = nullptr);
  void show_panel(const present::Panel& panel);
  // The word's size in points; the two lines around it are about half of it.
  void set_word_points(int points);
  // The two lines' size in points, when they are not to follow the word's.
  void set_line_points(int points);
  // Wrapped: the lines break at spaces instead of being cut at the edge (a tile's narrow panel
  // must show its whole address and reason), never inside a shortened address.
  void set_wrapped(bool wrapped);

  QColor background() const;
  QLabel* board_label() const { return board_; }
  QLabel* word_label() const { return word_; }
  QLabel* detail_label() const { return detail_; }
  MarkView* mark_view() const { return mark_; }

 private:
  QLabel* board_;
  MarkView* mark_;
  QLabel* word_;
  QLabel* detail_;
  bool wrapped_ = false;
};

// The run's steps, one row each: name, state, and for the step whose data moves a progress
// bar with the amount, rate and time left; otherwise what the step does or why it failed.
class StepList : public QWidget {
  Q_OBJECT

 public:
  enum class Layout {
    kFull,   // name, state, the bar and the text side by side
    // A tile's, as narrow as a step's name and its state: the bar takes the state's place while
    // the data moves, and the text (the transfer's figures, why a step was skipped; what each
    // step does stays in its tooltip) has a line of its own under the step, only when there is
    // one.
    kBrief,
  };
  explicit StepList(QWidget* parent = nullptr, Layout layout = Layout::kFull);
  void show_rows(const std::vector<present::StepRow>& rows);
  void set_text_points(int points);

  int row_count() const { return shown_; }
  QLabel* name_label(int row) const { return rows_[static_cast<std::size_t>(row)].name; }
  QLabel* state_label(int row) const { return rows_[static_cast<std::size_t>(row)].state; }
  QLabel* text_label(int row) const { return rows_[static_cast<std::size_t>(row)].text; }
  QProgressBar* progress_bar(int row) const { return rows_[static_cast<std::size_t>(row)].bar; }

 private:
  struct Row {
    QLabel* name = nullptr;
    QLabel* state = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* text = nullptr;
  };
  // Every row stays in the layout, empty when unused, so that the log below does not move.
  std::array<Row, station::kStepSlots> rows_{};
  int shown_ = 0;
  bool brief_ = false;

  void size_bar(Row& row) const;
};

// The shift's totals since the window opened (or since Reset), and today's from the records.
class TotalsPanel : public QFrame {
  Q_OBJECT

 public:
  explicit TotalsPanel(QWidget* parent = nullptr);
  // The totals model's words.
  void show_totals(const present::TotalsText& text);
  void set_text_points(int points);
  // Wrapped: the lines break at spaces instead of widening the window (beside tiles).
  void set_wrapped(bool wrapped);

  QPushButton* reset_button() const { return reset_; }
  QLabel* shift_label() const { return shift_; }
  QLabel* counts_label() const { return counts_; }
  QLabel* rate_label() const { return rate_; }
  QLabel* today_label() const { return today_; }

 private:
  QLabel* shift_;
  QLabel* counts_;
  QLabel* rate_;
  QLabel* today_;
  QPushButton* reset_;
};

// The three above, as they sit over the log. With several ports, a tile for each port takes
// the place of the board's panel and steps; the totals (of all ports) stay beside the tiles.
class OperatorPanel : public QWidget {
  Q_OBJECT

 public:
  explicit OperatorPanel(QWidget* parent = nullptr);
  void show_panel(const present::Panel& panel);
  // Sizes the text for a window `height` pixels high and `width` wide: the word at least 28
  // points, the panel at least a tenth of the window. Tiles get a smaller word, the smaller the
  // more rows, and tiles and totals come down to fit the width (present::fit_tiles).
  void fit_to(int height, int width = 0);

  // Makes `count` tiles (2 or more), in rows of at most four. Once; the window names them.
  void make_tiles(int count);
  int tile_count() const { return static_cast<int>(tiles_.size()); }
  PortTile* tile(int port) const { return tiles_[static_cast<std::size_t>(port)]; }
  // Folded, with tiles: each keeps its word, the steps and the totals go.
  void set_compact(bool compact);
  // A line under the panel that stays while the station runs (empty: none).
  void set_notice(const QString& notice);
  QLabel* notice_label() const { return notice_; }

  VerdictPanel* verdict() const { return verdict_; }
  StepList* steps() const { return steps_; }
  TotalsPanel* totals() const { return totals_; }

 private:
  VerdictPanel* verdict_;
  StepList* steps_;
  TotalsPanel* totals_;
  QLabel* notice_;
  QHBoxLayout* top_ = nullptr;
  QWidget* tile_grid_ = nullptr;
  std::vector<PortTile*> tiles_;
  int tile_rows_ = 0;
  bool compact_ = false;
};

}  // namespace skav::gui
