#include "frontends/qt/port_tile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "frontends/qt/operator_panel.h"

namespace skav::gui {

namespace {

constexpr int kFrame = 4;  // the selection frame's width in pixels

}  // namespace

void set_points(QWidget* widget, int points, bool bold) {
  QFont font = widget->font();
  font.setPointSize(points);
  font.setBold(bold);
  widget->setFont(font);
}

PortTile::PortTile(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("portTile"));
  setFocusPolicy(Qt::NoFocus);  // the log keeps the keyboard for the MAC entry
  setCursor(Qt::PointingHandCursor);
  name_ = new QLabel(this);
  name_->setObjectName(QStringLiteral("portName"));
  name_->setTextFormat(Qt::PlainText);
  asks_ = new QLabel(QString::fromLatin1(present::kAsksForAddress), this);
  asks_->setObjectName(QStringLiteral("portAsks"));
  asks_->setAutoFillBackground(true);
  asks_->setContentsMargins(6, 1, 6, 1);
  QPalette amber = asks_->palette();
  amber.setColor(QPalette::Window, QColor(0xff, 0xb3, 0x00));
  amber.setColor(QPalette::WindowText, QColor(0x1a, 0x1a, 0x1a));
  asks_->setPalette(amber);
  asks_->hide();
  counts_ = new QLabel(this);
  counts_->setObjectName(QStringLiteral("portCounts"));
  counts_->setTextFormat(Qt::PlainText);
  // In a narrow tile the counts wrap beside the name rather than be cut.
  counts_->setWordWrap(true);
  counts_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  typing_ = new QLabel(this);
  typing_->setObjectName(QStringLiteral("portTyping"));
  typing_->setTextFormat(Qt::PlainText);
  typing_->hide();
  refused_ = new QLabel(this);
  refused_->setObjectName(QStringLiteral("portRefused"));
  refused_->setTextFormat(Qt::PlainText);
  QPalette red = refused_->palette();
  red.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x20));
  refused_->setPalette(red);
  refused_->hide();
  verdict_ = new VerdictPanel(this);
  steps_ = new StepList(this, StepList::Layout::kBrief);

  auto* head = new QHBoxLayout;
  head->setContentsMargins(8, 2, 8, 2);
  head->addWidget(name_);
  head->addWidget(counts_, 1);
  // The badge has a line of its own, so that it never covers the counts; the notes on the
  // operator's typing go under it, each wrapped in the tile's width.
  typing_->setWordWrap(true);
  refused_->setWordWrap(true);
  auto* badge = new QHBoxLayout;
  badge->addWidget(asks_);
  badge->addStretch(1);
  auto* notes = new QVBoxLayout;
  notes->setContentsMargins(8, 0, 8, 0);
  notes->setSpacing(0);
  notes->addLayout(badge);
  notes->addWidget(typing_);
  notes->addWidget(refused_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kFrame + 1, kFrame + 1, kFrame + 1, kFrame + 1);
  layout->setSpacing(2);
  layout->addLayout(head);
  layout->addLayout(notes);
  layout->addWidget(verdict_);
  layout->addWidget(steps_);
  layout->addStretch(1);
  verdict_->set_wrapped(true);
  set_text_points(24, 10, 12);
  counts_->setText(QString::fromStdString(present::tile_counts(present::Totals{})));
}

void PortTile::show_tile(const present::TileText& tile) {
  name_->setText(QString::fromStdString(tile.name));
  counts_->setText(QString::fromStdString(tile.counts));
  verdict_->show_panel(tile.panel);
  steps_->show_rows(tile.panel.steps);
  asks_->setVisible(tile.asks);
  typing_->setText(QString::fromStdString(tile.typing));
  typing_->setVisible(!tile.typing.empty());
  refused_->setText(QString::fromStdString(tile.refused));
  refused_->setVisible(!tile.refused.empty());
}

void PortTile::set_selected(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  update();
}

void PortTile::set_steps_shown(bool shown) { steps_->setVisible(shown); }

void PortTile::set_text_points(int word, int text, int line) {
  verdict_->set_word_points(word);
  verdict_->set_line_points(line);
  steps_->set_text_points(text);
  set_points(name_, text + 1, true);
  set_points(asks_, text, true);
  set_points(counts_, text, false);
  set_points(typing_, text, false);
  set_points(refused_, text, true);
}

void PortTile::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    Q_EMIT clicked();
    event->accept();
    return;
  }
  QFrame::mousePressEvent(event);
}

void PortTile::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  // The selected tile in a thick frame of the highlight colour; the others in a thin grey line.
  int width = selected_ ? kFrame : 1;
  QColor colour = selected_ ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
  QPen pen(colour, width);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  qreal inset = width / 2.0;
  painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
}

}  // namespace skav::gui
