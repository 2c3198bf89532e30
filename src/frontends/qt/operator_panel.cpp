#include "frontends/qt/operator_panel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "frontends/qt/port_tile.h"
#include "present/font_sizes.h"
#include "present/tiles.h"

namespace skav::gui {

namespace {

QString text_of(const std::string& text) { return QString::fromStdString(text); }

QLabel* plain_label(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A full step list's progress bar, in characters of the text.
constexpr int kBarChars = 30;

QColor qt_colour(present::Rgb rgb) { return QColor(rgb.red, rgb.green, rgb.blue); }

}  // namespace

void paint_mark(QPainter& painter, const QRectF& box, present::Mark mark, const QColor& colour) {
  const qreal side = std::min(box.width(), box.height());
  const QPointF origin(box.center().x() - side / 2, box.center().y() - side / 2);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colour, side * present::kMarkPen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  for (const present::MarkStroke& stroke : present::mark_strokes(mark)) {
    QPainterPath path;
    bool first = true;
    for (const present::MarkPoint& point : stroke.points) {
      const QPointF at = origin + QPointF(point.x * side, point.y * side);
      if (first) {
        path.moveTo(at);
        first = false;
      } else {
        path.lineTo(at);
      }
    }
    if (stroke.closed) path.closeSubpath();
    painter.setBrush(stroke.filled ? QBrush(colour) : QBrush(Qt::NoBrush));
    painter.drawPath(path);
  }
  painter.restore();
}

MarkView::MarkView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("markView"));
  set_side(24);
}

void MarkView::show_mark(present::Mark mark, const QColor& colour) {
  if (mark == mark_ && colour == colour_) return;
  mark_ = mark;
  colour_ = colour;
  setAccessibleName(QString::fromLatin1(present::mark_name(mark)));
  update();
}

void MarkView::set_side(int pixels) { setFixedSize(pixels, pixels); }

void MarkView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paint_mark(painter, QRectF(rect()), mark_, colour_);
}

VerdictPane::VerdictPane(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("verdictPane"));
  setAutoFillBackground(true);
  mark_ = new MarkView(this);
  word_ = plain_label(this, "verdictPaneWord");
  QFont bold = word_->font();
  bold.setBold(true);
  word_->setFont(bold);
  mark_->set_side(word_->fontMetrics().height());
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 0, 8, 0);
  layout->setSpacing(4);
  layout->addWidget(mark_);
  layout->addWidget(word_);
  show_panel(present::Panel{});
}

QColor VerdictPane::background() const { return palette().color(QPalette::Window); }

void VerdictPane::show_panel(const present::Panel& panel) {
  QPalette colours = palette();
  colours.setColor(QPalette::Window, qt_colour(present::background_of(panel.tone)));
  colours.setColor(QPalette::WindowText, qt_colour(present::text_colour_of(panel.tone)));
  setPalette(colours);
  word_->setText(QString::fromLatin1(present::word_text(panel.word)));
  mark_->show_mark(present::mark_of(panel.word), qt_colour(present::text_colour_of(panel.tone)));
}

VerdictPanel::VerdictPanel(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("verdictPanel"));
  setAutoFillBackground(true);
  setFrameShape(QFrame::NoFrame);
  board_ = plain_label(this, "boardLabel");
  mark_ = new MarkView(this);
  word_ = plain_label(this, "wordLabel");
  detail_ = plain_label(this, "detailLabel");
  // A long reason must not widen the window; it is cut at the panel's edge.
  detail_->setMinimumWidth(1);
  board_->setMinimumWidth(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 8, 16, 8);
  layout->setSpacing(2);
  layout->addWidget(board_);
  // The shape before the word, so that the verdict reads without its colour.
  auto* word_row = new QHBoxLayout;
  word_row->setSpacing(12);
  word_row->addWidget(mark_);
  word_row->addWidget(word_, 1);
  layout->addLayout(word_row);
  layout->addWidget(detail_);
  set_word_points(28);
  show_panel(present::Panel{});
}

QColor VerdictPanel::background() const { return palette().color(QPalette::Window); }

void VerdictPanel::show_panel(const present::Panel& panel) {
  QPalette colours = palette();
  colours.setColor(QPalette::Window, qt_colour(present::background_of(panel.tone)));
  colours.setColor(QPalette::WindowText, qt_colour(present::text_colour_of(panel.tone)));
  setPalette(colours);
  QString board = text_of(present::board_caption(panel));
  // The line breaker takes the mark's last dot and a digit after it for a place to break; a
  // word joiner (drawn as nothing) keeps the mark with the address.
  if (wrapped_)
    board.replace(QLatin1String(present::kShortened), QLatin1String(present::kShortened) + QChar(0x2060));
  board_->setText(board);
  word_->setText(QString::fromLatin1(present::word_text(panel.word)));
  mark_->show_mark(present::mark_of(panel.word), qt_colour(present::text_colour_of(panel.tone)));
  detail_->setText(text_of(panel.detail));
  detail_->setToolTip(text_of(panel.detail));
}

void VerdictPanel::set_word_points(int points) {
  set_points(word_, points, true);
  // As tall as the capitals, so that the shape sits on the word's line.
  mark_->set_side(word_->fontMetrics().capHeight() * 5 / 4);
  set_line_points(present::line_points(points));
}

void VerdictPanel::set_line_points(int points) {
  set_points(board_, points);
  set_points(detail_, points, true);
}

void VerdictPanel::set_wrapped(bool wrapped) {
  wrapped_ = wrapped;
  board_->setWordWrap(wrapped);
  detail_->setWordWrap(wrapped);
}

StepList::StepList(QWidget* parent, Layout layout) : QWidget(parent), brief_(layout == Layout::kBrief) {
  setObjectName(QStringLiteral("stepList"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(brief_ ? 6 : 16, 4, brief_ ? 6 : 16, 4);
  grid->setHorizontalSpacing(brief_ ? 8 : 16);
  grid->setVerticalSpacing(2);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    int r = static_cast<int>(i);
    row.name = plain_label(this, "stepName");
    row.state = plain_label(this, "stepState");
    row.bar = new QProgressBar(this);
    row.bar->setObjectName(QStringLiteral("stepProgress"));
    row.bar->setRange(0, 100);
    row.bar->setTextVisible(true);
    row.bar->setFormat(QStringLiteral("%p%"));
    row.bar->hide();
    row.text = plain_label(this, "stepText");
    row.text->setMinimumWidth(1);
    if (brief_) {
      // The state and the bar share a cell: one of them shows. The text wraps on its own line
      // rather than be cut, and takes no line while it is empty.
      grid->addWidget(row.name, 2 * r, 0);
      grid->addWidget(row.state, 2 * r, 1);
      grid->addWidget(row.bar, 2 * r, 1);
      grid->addWidget(row.text, 2 * r + 1, 0, 1, 2);
      row.text->setWordWrap(true);
      row.text->hide();
      continue;
    }
    // The bar before the text, in one cell: without a bar the text starts there.
    auto* cell = new QHBoxLayout;
    cell->setSpacing(12);
    cell->addWidget(row.bar);
    cell->addWidget(row.text, 1);
    grid->addWidget(row.name, r, 0);
    grid->addWidget(row.state, r, 1);
    grid->addLayout(cell, r, 2);
  }
  grid->setColumnStretch(brief_ ? 1 : 2, 1);
  set_text_points(12);
}

void StepList::size_bar(Row& row) const {
  const QFontMetrics metrics = row.text->fontMetrics();
  if (brief_) {
    row.bar->setFixedHeight(metrics.height());
    row.bar->setMinimumWidth(row.state->minimumWidth());
    return;
  }
  row.bar->setFixedSize(metrics.horizontalAdvance(QLatin1Char('0')) * kBarChars, metrics.height());
}

void StepList::set_text_points(int points) {
  for (Row& row : rows_) {
    set_points(row.name, points, true);
    set_points(row.state, points, true);
    set_points(row.text, points);
    set_points(row.bar, present::small_points(points));
    // Wide enough for every step's word in bold.
    row.state->setMinimumWidth(
        row.state->fontMetrics().horizontalAdvance(QLatin1String(present::kWidestStepWord)) + 8);
    row.name->setMinimumWidth(row.name->fontMetrics().horizontalAdvance(QStringLiteral("environment")) + 8);
    size_bar(row);
  }
}

void StepList::show_rows(const std::vector<present::StepRow>& rows) {
  shown_ = static_cast<int>(std::min(rows.size(), rows_.size()));
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    if (i >= rows.size()) {
      row.name->clear();
      row.state->clear();
      row.text->clear();
      row.bar->hide();
      if (brief_) {
        row.text->hide();
        row.state->show();
      }
      continue;
    }
    const present::StepRow& shown = rows[i];
    row.name->setText(text_of(shown.name));
    row.state->setText(QString::fromLatin1(shown.word.c_str()));
    QPalette colours = row.state->palette();
    colours.setColor(QPalette::WindowText, qt_colour(present::state_colour(shown.state)));
    row.state->setPalette(colours);
    row.bar->setVisible(shown.moving);
    if (shown.moving) {
      row.bar->setValue(shown.percent);
      row.text->setText(text_of(shown.progress));
    } else if (brief_ && shown.state != present::StepState::kSkipped) {
      // A tile's failure line above already gives a failed step's reason, whole.
      row.text->clear();
    } else {
      row.text->setText(text_of(shown.text));
    }
    row.text->setToolTip(text_of(shown.text));
    if (brief_) {
      row.state->setVisible(!shown.moving);
      row.text->setVisible(!row.text->text().isEmpty());
      row.name->setToolTip(text_of(shown.text));
    }
  }
}

TotalsPanel::TotalsPanel(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("totalsPanel"));
  setFrameShape(QFrame::StyledPanel);
  shift_ = plain_label(this, "shiftLabel");
  counts_ = plain_label(this, "shiftCounts");
  rate_ = plain_label(this, "shiftRate");
  today_ = plain_label(this, "todayLabel");
  reset_ = new QPushButton(QStringLiteral("Reset"), this);
  reset_->setObjectName(QStringLiteral("resetTotals"));
  reset_->setFocusPolicy(Qt::NoFocus);  // the log keeps the keyboard for the MAC entry
  reset_->setToolTip(QStringLiteral("Start the shift's totals again"));
  auto* head = new QHBoxLayout;
  head->addWidget(shift_, 1);
  head->addWidget(reset_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 6, 12, 6);
  layout->setSpacing(2);
  layout->addLayout(head);
  layout->addWidget(counts_);
  layout->addWidget(rate_);
  layout->addStretch(1);
  layout->addWidget(today_);
  set_text_points(12);
  show_totals(present::totals_text(present::Totals{}, std::nullopt, {}, present::Totals{}));
}

void TotalsPanel::set_wrapped(bool wrapped) {
  for (QLabel* label : {counts_, rate_, today_}) label->setWordWrap(wrapped);
}

void TotalsPanel::set_text_points(int points) {
  set_points(shift_, points);
  set_points(counts_, present::counts_points(points), true);
  set_points(rate_, points);
  set_points(today_, points);
  set_points(reset_, present::small_points(points));
}

void TotalsPanel::show_totals(const present::TotalsText& text) {
  shift_->setText(text_of(text.shift));
  counts_->setText(text_of(text.counts));
  rate_->setText(text_of(text.rate));
  today_->setText(text_of(text.today));
}

OperatorPanel::OperatorPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("operatorPanel"));
  verdict_ = new VerdictPanel(this);
  steps_ = new StepList(this);
  totals_ = new TotalsPanel(this);
  top_ = new QHBoxLayout;
  top_->setSpacing(0);
  top_->addWidget(verdict_, 3);
  top_->addWidget(totals_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  layout->addLayout(top_);
  layout->addWidget(steps_);
  notice_ = new QLabel(this);
  notice_->setObjectName(QStringLiteral("notice"));
  notice_->setWordWrap(true);
  QPalette colours = notice_->palette();
  colours.setColor(QPalette::WindowText, qt_colour(present::state_colour(present::StepState::kFail)));
  notice_->setPalette(colours);
  QFont bold = notice_->font();
  bold.setBold(true);
  notice_->setFont(bold);
  notice_->hide();
  layout->addWidget(notice_);
}

void OperatorPanel::set_notice(const QString& notice) {
  notice_->setText(notice);
  notice_->setVisible(!notice.isEmpty());
}

void OperatorPanel::make_tiles(int count) {
  if (!tiles_.empty() || count < 2) return;
  verdict_->hide();
  steps_->hide();
  tile_grid_ = new QWidget(this);
  tile_grid_->setObjectName(QStringLiteral("portTiles"));
  auto* grid = new QGridLayout(tile_grid_);
  grid->setContentsMargins(0, 0, 4, 0);
  grid->setSpacing(4);
  const present::TileGrid shape = present::tile_grid(count);
  tile_rows_ = shape.rows;
  int columns = shape.columns;
  for (int i = 0; i < count; ++i) {
    auto* tile = new PortTile(tile_grid_);
    grid->addWidget(tile, i / columns, i % columns);
    tiles_.push_back(tile);
  }
  for (int c = 0; c < columns; ++c) grid->setColumnStretch(c, 1);
  top_->insertWidget(0, tile_grid_, 3);
  // Beside four tiles on a small screen a total wraps rather than be cut or widen the window.
  totals_->set_wrapped(true);
  set_compact(compact_);
}

void OperatorPanel::set_compact(bool compact) {
  compact_ = compact;
  if (tiles_.empty()) return;
  const bool steps = present::tile_steps_shown(present::tile_grid(tile_count()), compact);
  for (PortTile* tile : tiles_) tile->set_steps_shown(steps);
  totals_->setVisible(!compact);
}

void OperatorPanel::show_panel(const present::Panel& panel) {
  verdict_->show_panel(panel);
  steps_->show_rows(panel.steps);
}

void OperatorPanel::fit_to(int height, int width) {
  if (!tiles_.empty()) {
    const present::PanelFonts fonts = present::fit_tiles(
        present::panel_fonts(height, tile_rows_), width, present::tile_grid(tile_count()).columns);
    for (PortTile* tile : tiles_)
      tile->set_text_points(fonts.tile_word, fonts.tile_text, present::tile_line_points(fonts));
    totals_->set_text_points(fonts.text);
    return;
  }
  const present::PanelFonts fonts = present::panel_fonts(height, tile_rows_);
  verdict_->set_word_points(fonts.word);
  verdict_->setMinimumHeight(height / 10);
  steps_->set_text_points(fonts.text);
  totals_->set_text_points(fonts.text);
}

}  // namespace skav::gui
