#pragma once

#include <QFrame>
#include <QString>

#include "present/panel.h"
#include "present/tiles.h"
#include "present/totals.h"

class QLabel;
class QWidget;

namespace skav::gui {

class StepList;
class VerdictPanel;

// Sets a widget's font to the given size in points, bold or not.
void set_points(QWidget* widget, int points, bool bold = false);

// One port of a station with several: its name and its passes and failures this shift, under
// them (never over the counts) a badge while it asks for a MAC address with the notes that
// typing goes to it or that an entry was refused, the board's state word on its colour with the
// failure line, and the run's steps, compact. A click selects it (the window then shows its log); the selected tile
// is framed in the highlight colour.
class PortTile : public QFrame {
  Q_OBJECT

 public:
  explicit PortTile(QWidget* parent = nullptr);

  // Everything the tile says, as the model worked it out.
  void show_tile(const present::TileText& tile);
  void set_selected(bool selected);
  bool selected() const { return selected_; }
  // Folded: only the name, the badge and the word stay.
  void set_steps_shown(bool shown);
  // The word's, the texts' and the board and failure lines' sizes in points.
  void set_text_points(int word, int text, int line);

  QLabel* name_label() const { return name_; }
  QLabel* asks_label() const { return asks_; }
  QLabel* counts_label() const { return counts_; }
  QLabel* typing_label() const { return typing_; }
  QLabel* refused_label() const { return refused_; }
  VerdictPanel* verdict() const { return verdict_; }
  StepList* steps() const { return steps_; }

 Q_SIGNALS:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* name_;
  QLabel* asks_;
  QLabel* counts_;
  QLabel* typing_;
  QLabel* refused_;
  VerdictPanel* verdict_;
  StepList* steps_;
  bool selected_ = false;
};

}  // namespace skav::gui
