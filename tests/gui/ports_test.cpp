// A window with several ports: a tile per port with its own board, the selected port's log,
// status bar and file, the MAC entry going to the port that asks, and the totals of all ports.

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include "gui_test_main.h"
#include "core/station/station_events.h"
#include "frontends/qt/log_view.h"
#include "frontends/qt/main_window.h"
#include "frontends/qt/operator_panel.h"
#include "frontends/qt/port_tile.h"
#include "fake_line.h"
#include "station_rig.h"

using skav::gui::MainWindow;
using skav::gui::PortTile;
using skav::gui::test::StationRig;
using skav::gui::test::greenish;
using skav::gui::test::reddish;

namespace {


std::shared_ptr<const skav::station::StationSnapshot> with_status(const std::string& text) {
  auto snapshot = std::make_shared<skav::station::StationSnapshot>();
  snapshot->status_text = text;
  return snapshot;
}

bool ends_with(const std::string& text, const std::string& tail) { return text.ends_with(tail); }

}  // namespace

class PortsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(settings_dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir_.path());
  }

  void each_tile_shows_its_own_board() {
    skav::sim::BoardOptions sound, corrupt;
    corrupt.faults.corrupt_read = 4;  // the filesystem's read-back
    StationRig rig(0, {sound, corrupt});
    for (skav::station::Station* station : rig.stations) station->post_start_up();
    rig.settle();
    QVERIFY(rig.tick_until(
        [&] { return rig.stations[0]->boards_done() >= 1 && rig.stations[1]->boards_done() >= 1; }));

    // The tiles take the place of the one board's panel and steps.
    QVERIFY(rig.window.operator_panel()->verdict()->isHidden());
    QVERIFY(rig.window.operator_panel()->steps()->isHidden());
    PortTile* first = rig.window.port_tile(0);
    PortTile* second = rig.window.port_tile(1);
    QVERIFY(first != nullptr && second != nullptr);
    QCOMPARE(first->name_label()->text(), QStringLiteral("port0"));
    QCOMPARE(first->verdict()->word_label()->text(), QStringLiteral("PASS"));
    QVERIFY(greenish(first->verdict()->background()));
    QCOMPARE(first->steps()->row_count(), 5);
    QCOMPARE(second->verdict()->word_label()->text(), QStringLiteral("FAIL"));
    QVERIFY(reddish(second->verdict()->background()));
    QCOMPARE(second->verdict()->detail_label()->text(), QStringLiteral("filesystem: read-back differs"));
    QCOMPARE(second->steps()->state_label(3)->text(), QStringLiteral("fail"));
  }

  // The tiles' counts and the totals of all ports are the line's; Reset asks the line.
  void tiles_and_totals_show_the_lines_counts() {
    MainWindow window;
    window.set_port_count(2);
    skav::gui::test::FakeLine line(window, 2);
    skav::station::BoardRecord record;
    record.time = skav::station::iso8601_now();
    struct Board {
      std::size_t port;
      skav::station::Verdict verdict;
      const char* written;
    };
    for (const Board& board : {Board{0, skav::station::Verdict::kPass, "02:00:00:0A:00:01"},
                               Board{1, skav::station::Verdict::kFail, "02:00:00:0A:00:02"},
                               Board{1, skav::station::Verdict::kTimeout, "02:00:00:0A:00:03"}}) {
      record.overall = board.verdict;
      record.written_mac = board.written;
      line.finish(board.port, record);
    }
    PortTile* first = window.port_tile(0);
    PortTile* second = window.port_tile(1);
    QCOMPARE(first->counts_label()->text(), QStringLiteral("1 passed, 0 failed"));
    QCOMPARE(second->counts_label()->text(), QStringLiteral("0 passed, 2 failed"));
    skav::gui::TotalsPanel* totals = window.operator_panel()->totals();
    QCOMPARE(totals->counts_label()->text(), QStringLiteral("3 boards   1 passed   2 failed"));
    QCOMPARE(window.shift_totals(), (skav::present::Totals{3, 1, 2, 3, 0, 1}));

    window.set_confirm([](const QString&) { return true; });
    totals->reset_button()->click();
    QCOMPARE(line.posted.size(), std::size_t{1});
    QCOMPARE(totals->counts_label()->text(), QStringLiteral("0 boards   0 passed   0 failed"));
    QCOMPARE(second->counts_label()->text(), QStringLiteral("0 passed, 0 failed"));
  }

  void selecting_a_tile_shows_its_log_status_and_file() {
    QTemporaryDir dir;
    MainWindow window;
    window.set_port_count(2);
    window.show();
    window.events(0).on_snapshot(with_status("Ethernet -> first"));
    window.events(1).on_snapshot(with_status("Ethernet -> second"));
    window.log(0).append("zero\r\n");
    window.log(1).append("one\r\n");
    QCOMPARE(window.selected_port(), 0);
    QVERIFY(window.port_tile(0)->selected());
    QCOMPARE(window.message_text(), QStringLiteral("Ethernet -> first"));
    QCOMPARE(window.log_view()->bytes(), std::string("zero\r\n"));

    QTest::mouseClick(window.port_tile(1), Qt::LeftButton);
    QCOMPARE(window.selected_port(), 1);
    QVERIFY(window.port_tile(1)->selected());
    QVERIFY(!window.port_tile(0)->selected());
    QCOMPARE(window.log_view(), window.log_view(1));
    QVERIFY(window.log_view(1)->isVisible());
    QVERIFY(!window.log_view(0)->isVisible());
    QCOMPARE(window.message_text(), QStringLiteral("Ethernet -> second"));
    // Another port's news leaves the status bar to the selected one.
    window.events(0).on_snapshot(with_status("Ethernet -> first, later"));
    QCOMPARE(window.message_text(), QStringLiteral("Ethernet -> second"));

    // File's commands act on the selected port's log.
    QVERIFY(window.save_to(dir.filePath("second.log")));
    QFile saved(dir.filePath("second.log"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("one\r\n"));
    QCOMPARE(window.windowTitle(), QStringLiteral("second.log - SKAV"));
    QTest::mouseClick(window.port_tile(0), Qt::LeftButton);
    QCOMPARE(window.windowTitle(), QStringLiteral(" - SKAV"));
    QCOMPARE(window.message_text(), QStringLiteral("Ethernet -> first, later"));
    // Ctrl and the port's digit select it as a click does; a digit without a port does nothing.
    for (const auto& [digit, selected] : {std::pair{2, 1}, std::pair{3, 1}, std::pair{1, 0}}) {
      auto* action = window.findChild<QAction*>(QStringLiteral("actionPort%1").arg(digit));
      QVERIFY(action != nullptr);
      QCOMPARE(action->shortcut(), QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + digit)));
      action->trigger();
      QCOMPARE(window.selected_port(), selected);
    }
    window.new_log();
    QVERIFY(window.log_view(0)->bytes().empty());
    QCOMPARE(window.log_view(1)->bytes(), std::string("one\r\n"));
  }

  void the_mac_entry_goes_to_the_port_that_asks() {
    StationRig rig(1, {skav::sim::BoardOptions{}, skav::sim::BoardOptions{}});
    for (skav::station::Station* station : rig.stations) station->post_start_up();
    rig.settle();
    QVERIFY(rig.tick_until(
        [&] { return rig.stations[0]->entry_pending() && rig.stations[1]->entry_pending(); }));
    PortTile* first = rig.window.port_tile(0);
    PortTile* second = rig.window.port_tile(1);
    QVERIFY(!first->asks_label()->isHidden());
    QVERIFY(!second->asks_label()->isHidden());
    QCOMPARE(rig.window.selected_port(), 0);

    QTest::keyClicks(rig.window.log_view(), "0200000000AA");
    QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
    rig.settle();
    QVERIFY(!rig.stations[0]->entry_pending());
    QCOMPARE(skav::MacDigits::text(rig.stations[0]->mac_digits()), std::string("0200000000AA"));
    QVERIFY(rig.stations[1]->entry_pending());
    // The first port has its address: the window turns to the port that still asks.
    QCOMPARE(rig.window.selected_port(), 1);
    QVERIFY(first->asks_label()->isHidden());
    QVERIFY(second->selected());

    QCOMPARE(second->typing_label()->text(), QStringLiteral("scanning for port1"));
    QVERIFY(!second->typing_label()->isHidden());
    QVERIFY(first->typing_label()->isHidden());

    // A refused entry shows on the tile that asked, and calls the operator once.
    int calls = 0;
    rig.window.set_alarm([&calls] { ++calls; });
    QTest::keyClicks(rig.window.log_view(), "02000000BBB");
    QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
    rig.settle();
    QVERIFY(rig.stations[1]->entry_pending());
    QCOMPARE(second->refused_label()->text(), QStringLiteral("refused: 11 digits"));
    QVERIFY(!second->refused_label()->isHidden());
    QCOMPARE(calls, 1);

    QTest::keyClicks(rig.window.log_view(), "0200000000BB");
    QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
    rig.settle();
    QVERIFY(!rig.stations[1]->entry_pending());
    QCOMPARE(skav::MacDigits::text(rig.stations[1]->mac_digits()), std::string("0200000000BB"));
    QCoreApplication::sendPostedEvents();
    QVERIFY2(ends_with(rig.window.log_view(1)->bytes(), "Input MAC Address : 0200000000BB\r\n"),
             rig.window.log_view(1)->bytes().c_str());
    QVERIFY(rig.window.log_view(0)->bytes().find("Input MAC Address : 0200000000AA\r\n") != std::string::npos);
  }

 private:
  QTemporaryDir settings_dir_;
};

SKAV_GUI_TEST(PortsTest);
#include "ports_test.moc"
