// The window of several ports on the screens it is made for: four ports on 1366x768 and eight
// on 1920x1080, at 100 % scale and above a task bar, with the widest texts a tile can show (the
// longest state words, a transfer's bar and figures, a failure, a refused entry, an adapter's
// problem) and nothing of them cut.

#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

#include <memory>
#include <string>
#include <vector>

#include "gui_test_main.h"
#include "core/mac_digits.h"
#include "core/station/station_events.h"
#include "frontends/qt/main_window.h"
#include "frontends/qt/operator_panel.h"
#include "frontends/qt/port_tile.h"
#include "fake_line.h"

using skav::gui::MainWindow;
using skav::gui::PortTile;
using skav::station::BoardView;
using skav::station::StationSnapshot;
using skav::station::StepSlot;
using skav::station::StepView;
using skav::station::Verdict;

namespace {

using Snapshot = std::shared_ptr<const StationSnapshot>;

std::shared_ptr<StationSnapshot> started() {
  auto snapshot = std::make_shared<StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter_open = true;
  snapshot->adapter = "enp0s31f6";
  return snapshot;
}

// Board 123 of a port with every step planned; the address ends in `last` (the line's boards
// share their first bytes).
BoardView board(int last) {
  BoardView view;
  view.number = 123;
  skav::MacDigits::parse("02000000A1" + std::string(1, "0123456789ABCDEF"[last / 16]) +
                             std::string(1, "0123456789ABCDEF"[last % 16]),
                         view.address);
  view.address_written = true;
  view.planned = true;
  for (std::size_t i = 0; i < view.steps.size(); ++i) {
    StepView& step = view.steps[i];
    step.slot = static_cast<StepSlot>(i);
    step.used = true;
    step.summary = "memory type 1 (nand), command 0 (write)";
  }
  return view;
}

// Programming: the environment passed, the kernel's data is being read back.
Snapshot programming(int last) {
  auto snapshot = started();
  snapshot->state = skav::station::StationState::kConnected;
  snapshot->run_status = skav::station::RunStatus::kRunning;
  BoardView view = board(last);
  view.steps[0].state = StepView::State::kDone;
  view.steps[0].verdict = Verdict::kPass;
  StepView& kernel = view.steps[1];
  kernel.state = StepView::State::kRunning;
  kernel.phase = skav::station::DataPhase::kVerifying;
  kernel.done = 123'400'000;
  kernel.total = 456'700'000;
  kernel.bytes_per_second = 11'900'000;
  snapshot->board = view;
  return snapshot;
}

// The board failed at its filesystem, after 123.4 seconds.
Snapshot failed(int last) {
  auto snapshot = started();
  snapshot->state = skav::station::StationState::kSearching;
  snapshot->run_status = skav::station::RunStatus::kNoRun;
  BoardView view = board(last);
  for (StepView& step : view.steps) {
    step.state = StepView::State::kDone;
    step.verdict = Verdict::kPass;
  }
  view.steps[3].verdict = Verdict::kFail;
  view.steps[3].reason = "read-back differs";
  view.steps[4].verdict = Verdict::kNotRun;
  view.finished = true;
  view.overall = Verdict::kFail;
  view.failure = "filesystem: read-back differs";
  view.seconds = 123.4;
  snapshot->board = view;
  return snapshot;
}

// A new board, and the port asks for its address after refusing an entry.
Snapshot asking(int) {
  auto snapshot = started();
  snapshot->state = skav::station::StationState::kConnected;
  snapshot->entry_pending = true;
  snapshot->entry_refused = "not hexadecimal";
  snapshot->entry_refusals = 1;
  return snapshot;
}

// A board's record could not be stored.
Snapshot record_kept(int) {
  auto snapshot = started();
  snapshot->records_kept = 1;
  snapshot->record_problem = "skav-records.csv: No space left on device";
  return snapshot;
}

// The adapter went away.
Snapshot adapter_lost(int) {
  auto snapshot = started();
  snapshot->adapter_open = false;
  snapshot->adapter_problem = "the adapter went away";
  return snapshot;
}

// The pieces of `label`'s text that must stay whole: an address, a number with its unit.
const char* const kWhole[] = {"A1:", ":00:", "123.4 s", "Board 123", "123.4 of 456.7 MB"};

// The line on which each character of `label`'s text falls, as the label lays it out.
std::vector<int> line_of_each(const QLabel* label) {
  const QString text = label->text();
  std::vector<int> lines(static_cast<std::size_t>(text.size()), 0);
  if (!label->wordWrap()) return lines;
  QTextLayout layout(text, label->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  int number = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine(), ++number) {
    line.setLineWidth(label->contentsRect().width());
    for (int i = line.textStart(); i < line.textStart() + line.textLength(); ++i)
      lines[static_cast<std::size_t>(i)] = number;
  }
  layout.endLayout();
  return lines;
}

// Why `label`'s text does not show whole (empty when it does): wider than the label on one
// line, taller than the label when wrapped, or a piece that must stay whole broken over lines.
QString cut(const QLabel* label) {
  const QString text = label->text();
  const QRect room = label->contentsRect();
  const QFontMetrics metrics(label->font());
  const int wide = metrics.horizontalAdvance(text);
  if (!label->wordWrap() && wide > room.width())
    return QStringLiteral("\"%1\" needs %2 px, has %3").arg(text).arg(wide).arg(room.width());
  const int high = label->heightForWidth(room.width());
  if (label->wordWrap() && high > room.height())
    return QStringLiteral("\"%1\" needs %2 px high, has %3").arg(text).arg(high).arg(room.height());
  const std::vector<int> lines = line_of_each(label);
  for (const char* whole : kWhole) {
    // An address's piece counts with the bytes around it: "...A1:05".
    const QString piece = QString::fromLatin1(whole);
    for (qsizetype at = text.indexOf(piece); at >= 0; at = text.indexOf(piece, at + 1)) {
      qsizetype begin = at, end = at + piece.size();
      while (begin > 0 && text[begin - 1] != QLatin1Char(' ')) --begin;
      while (end < text.size() && text[end] != QLatin1Char(' ') && text[end] != QLatin1Char(',')) ++end;
      if (lines[static_cast<std::size_t>(begin)] != lines[static_cast<std::size_t>(end - 1)])
        return QStringLiteral("\"%1\" is broken over two lines in \"%2\"").arg(text.mid(begin, end - begin), text);
    }
  }
  return {};
}

}  // namespace

class TileFitTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(settings_dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir_.path());
  }

  void the_window_fits_its_screen_with_nothing_cut_data() {
    QTest::addColumn<int>("ports");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // The screen's height less a task bar.
    QTest::newRow("4 ports, 1366x768") << 4 << 1366 << 728;
    QTest::newRow("8 ports, 1920x1080") << 8 << 1920 << 1040;
  }

  void the_window_fits_its_screen_with_nothing_cut() {
    QFETCH(int, ports);
    QFETCH(int, width);
    QFETCH(int, height);
    MainWindow window;
    window.set_port_count(ports);
    for (int i = 0; i < ports; ++i) window.set_port_name(i, QStringLiteral("enp0s31f6-%1").arg(i));
    // The widest texts a tile shows, in turn; the first port is selected, so the operator's
    // typing goes to it.
    using Make = Snapshot (*)(int);
    const Make kinds[] = {asking, programming, failed, adapter_lost, record_kept};
    skav::gui::test::FakeLine line(window, static_cast<std::size_t>(ports));
    for (int i = 0; i < ports; ++i) line.show(static_cast<std::size_t>(i), kinds[i % 5](i + 0xf0));
    // A busy shift: three-digit totals.
    skav::station::BoardRecord record;
    record.time = skav::station::iso8601_now();
    for (int board = 0; board < 150; ++board) {
      record.overall = board % 7 == 0 ? Verdict::kFail : Verdict::kPass;
      line.finish(static_cast<std::size_t>(board % ports), record);
    }
    window.show();
    window.resize(width, height);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The type sizes follow the window's size, and the layouts follow the type sizes.
    for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents();

    const QSize least = window.minimumSizeHint();
    QVERIFY2(least.width() <= width && least.height() <= height,
             qPrintable(QStringLiteral("the window needs %1x%2").arg(least.width()).arg(least.height())));
    QCOMPARE(window.size(), QSize(width, height));
    for (int i = 0; i < ports; ++i) {
      PortTile* tile = window.port_tile(i);
      QVERIFY(tile != nullptr);
      for (const QLabel* label : tile->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) continue;
        const QString why = cut(label);
        QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("tile %1: %2").arg(i).arg(why)));
      }
      // The badge keeps off the counts.
      if (tile->asks_label()->isVisible()) {
        const QRect badge(tile->asks_label()->mapTo(tile, QPoint()), tile->asks_label()->size());
        const QRect counts(tile->counts_label()->mapTo(tile, QPoint()), tile->counts_label()->size());
        QVERIFY(!badge.intersects(counts));
      }
      for (const QProgressBar* bar : tile->findChildren<QProgressBar*>())
        if (bar->isVisible()) QVERIFY(tile->rect().contains(QRect(bar->mapTo(tile, QPoint()), bar->size())));
    }
    // The totals of all ports, beside the tiles.
    for (const QLabel* label : window.operator_panel()->totals()->findChildren<QLabel*>()) {
      if (!label->isVisible() || label->text().isEmpty()) continue;
      const QString why = cut(label);
      QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("totals: %1").arg(why)));
    }
  }

 private:
  QTemporaryDir settings_dir_;
};

SKAV_GUI_TEST(TileFitTest);
#include "tile_fit_test.moc"
