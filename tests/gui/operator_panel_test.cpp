// The operator's panel over the log: the word and its colour for real runs and an adapter
// that cannot be opened, the steps while data moves, the shift's and the day's totals, the
// signal, and the remembered zoom and fold.

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <optional>

#include "gui_test_main.h"
#include "core/station/station_events.h"
#include "frontends/qt/log_view.h"
#include "frontends/qt/main_window.h"
#include "frontends/qt/operator_panel.h"
#include "present/marks.h"
#include "present/panel.h"
#include "present/totals.h"
#include "fake_line.h"
#include "station_rig.h"

using skav::gui::MainWindow;
using skav::gui::VerdictPanel;
using skav::gui::test::StationRig;
using skav::gui::test::greenish;
using skav::gui::test::reddish;
using skav::station::Verdict;

Q_DECLARE_METATYPE(skav::sim::BoardFaults)

namespace {

bool neither(const QColor& c) { return !reddish(c) && !greenish(c); }

// A station that has started, with the status text `status` and, when given, a board finished
// with `overall`.
std::shared_ptr<const skav::station::StationSnapshot> finished(std::optional<Verdict> overall,
                                                               const std::string& status = "Ethernet -> sim0") {
  auto snapshot = std::make_shared<skav::station::StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter_open = true;
  snapshot->status_text = status;
  if (overall) {
    skav::station::BoardView board;
    board.number = 1;
    board.finished = true;
    board.overall = *overall;
    snapshot->board = board;
  }
  return snapshot;
}

// The pixels of `widget` in `colour`, as a mask of where they are.
QImage pixels_of(QWidget* widget, const QColor& colour) {
  const QImage image = widget->grab().toImage();
  QImage mask(image.size(), QImage::Format_Mono);
  mask.fill(0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == colour) mask.setPixel(x, y, 1);
  return mask;
}

int count_set(const QImage& mask) {
  int count = 0;
  for (int y = 0; y < mask.height(); ++y)
    for (int x = 0; x < mask.width(); ++x) count += mask.pixelIndex(x, y);
  return count;
}

skav::station::BoardRecord record_of(Verdict overall, const std::string& time) {
  skav::station::BoardRecord record;
  record.overall = overall;
  record.time = time;
  return record;
}

}  // namespace

class OperatorPanelTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(settings_dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir_.path());
  }

  void a_finished_run_shows_its_word_colour_and_failure_data() {
    QTest::addColumn<skav::sim::BoardFaults>("faults");
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("good");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<int>("alarms");
    skav::sim::BoardFaults pass, corrupt, silent;
    corrupt.corrupt_read = 4;  // the filesystem's read-back
    silent.silent_phase = skav::sim::SilentPhase::kMidData;
    silent.silent_exchange = 3;  // the kernel image
    QTest::newRow("pass") << pass << "PASS" << true << "" << 0;
    QTest::newRow("read-back differs") << corrupt << "FAIL" << false << "filesystem: read-back differs" << 1;
    QTest::newRow("timeout") << silent << "TIMEOUT" << false << "kernel: no answer after 30 s" << 1;
  }
  void a_finished_run_shows_its_word_colour_and_failure() {
    QFETCH(skav::sim::BoardFaults, faults);
    QFETCH(QString, word);
    QFETCH(bool, good);
    QFETCH(QString, detail);
    QFETCH(int, alarms);
    skav::sim::BoardOptions board;
    board.faults = faults;
    StationRig rig(0, board);
    int alarmed = 0;
    rig.window.set_alarm([&alarmed] { ++alarmed; });
    rig.window.sound_action()->setChecked(true);
    rig.station->post_start_up();
    rig.settle();
    QVERIFY(rig.tick_until([&] { return rig.station->boards_done() >= 1; }));

    VerdictPanel* verdict = rig.window.operator_panel()->verdict();
    QCOMPARE(verdict->word_label()->text(), word);
    QVERIFY2(good ? greenish(verdict->background()) : reddish(verdict->background()),
             qPrintable(verdict->background().name()));
    QCOMPARE(verdict->detail_label()->text(), detail);
    QVERIFY(verdict->board_label()->text().startsWith(QStringLiteral("Board 1, address 00:11:22:33:44:55, ")));
    QCOMPARE(alarmed, alarms);
    // The log says it too, exactly as before.
    QVERIFY(rig.log_text().find("Waiting connecting to Target...\r\nConnected...\r\n") == 0);
  }

  void an_adapter_that_cannot_be_opened_is_said_in_red_until_it_works() {
    MainWindow window;
    auto snapshot = std::make_shared<skav::station::StationSnapshot>();
    snapshot->start_ups = 1;
    snapshot->state = skav::station::StationState::kSearching;
    snapshot->adapter = "enp3s0";
    snapshot->adapter_problem = "enp3s0 cannot be opened: Operation not permitted";
    skav::gui::test::FakeLine line(window, 1);
    line.show(0, snapshot);
    VerdictPanel* verdict = window.operator_panel()->verdict();
    QCOMPARE(verdict->word_label()->text(), QStringLiteral("ADAPTER ERROR"));
    QVERIFY(reddish(verdict->background()));
    QCOMPARE(verdict->detail_label()->text(), QStringLiteral("enp3s0 cannot be opened: Operation not permitted"));

    auto working = std::make_shared<skav::station::StationSnapshot>(*snapshot);
    working->adapter_open = true;
    working->adapter_problem.clear();
    line.show(0, working);
    QCOMPARE(verdict->word_label()->text(), QStringLiteral("SEARCHING"));
    QVERIFY(neither(verdict->background()));
  }

  void the_word_is_large_and_the_panel_a_tenth_of_the_window() {
    for (QSize size : {QSize(1280, 800), QSize(1920, 1080)}) {
      MainWindow window;
      window.resize(size);
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      VerdictPanel* verdict = window.operator_panel()->verdict();
      QVERIFY(verdict->word_label()->font().pointSize() >= 28);
      QVERIFY(verdict->word_label()->font().bold());
      QVERIFY2(verdict->height() * 10 >= window.height(), qPrintable(QString::number(verdict->height())));
    }
  }

  void the_moving_step_shows_a_bar_with_its_rate() {
    MainWindow window;
    auto snapshot = std::make_shared<skav::station::StationSnapshot>();
    snapshot->start_ups = 1;
    snapshot->adapter_open = true;
    snapshot->run_status = skav::station::RunStatus::kRunning;
    skav::station::BoardView& board = snapshot->board.emplace();
    board.planned = true;
    for (std::size_t i = 0; i < skav::station::kStepSlots; ++i) {
      board.steps[i].slot = static_cast<skav::station::StepSlot>(i);
      board.steps[i].used = true;
    }
    skav::station::StepView& kernel = board.steps[1];
    kernel.state = skav::station::StepView::State::kRunning;
    kernel.done = 3'000'000;
    kernel.total = 4'000'000;
    kernel.bytes_per_second = 2e6;
    skav::gui::test::FakeLine line(window, 1);
    line.show(0, snapshot);

    skav::gui::StepList* steps = window.operator_panel()->steps();
    QCOMPARE(steps->row_count(), 5);
    QCOMPARE(steps->state_label(1)->text(), QStringLiteral("running"));
    QVERIFY(!steps->progress_bar(1)->isHidden());
    QCOMPARE(steps->progress_bar(1)->value(), 75);
    QCOMPARE(steps->text_label(1)->text(), QStringLiteral("3.0 of 4.0 MB, 2.0 MB/s, 1 s left"));
    QVERIFY(steps->progress_bar(2)->isHidden());
    QCOMPARE(window.operator_panel()->verdict()->word_label()->text(), QStringLiteral("PROGRAMMING"));
  }

  void totals_after_a_mixed_series_and_reset() {
    MainWindow window;
    skav::gui::test::FakeLine line(window, 1);
    int alarmed = 0;
    window.set_alarm([&alarmed] { ++alarmed; });
    window.sound_action()->setChecked(true);
    const std::string now = skav::station::iso8601_now();
    for (Verdict v : {Verdict::kPass, Verdict::kFail, Verdict::kPass, Verdict::kTimeout, Verdict::kPass})
      line.finish(0, record_of(v, now));
    skav::gui::TotalsPanel* totals = window.operator_panel()->totals();
    QCOMPARE(totals->counts_label()->text(), QStringLiteral("5 boards   3 passed   2 failed"));
    QVERIFY(totals->rate_label()->text().startsWith(QStringLiteral("60% passed")));
    QCOMPARE(alarmed, 2);

    // Without sound, a failure calls no one.
    window.sound_action()->trigger();
    line.finish(0, record_of(Verdict::kFail, now));
    QCOMPARE(alarmed, 2);
    window.sound_action()->trigger();

    window.set_confirm([](const QString&) { return true; });
    window.operator_panel()->totals()->reset_button()->click();
    // The line's command, posted once; the totals follow the line's answer.
    QCOMPARE(line.posted.size(), std::size_t{1});
    QVERIFY(std::holds_alternative<skav::line::ResetShift>(line.posted.front().second));
    QCOMPARE(totals->counts_label()->text(), QStringLiteral("0 boards   0 passed   0 failed"));
    line.finish(0, record_of(Verdict::kPass, now));
    QCOMPARE(totals->counts_label()->text(), QStringLiteral("1 board   1 passed   0 failed"));
    QVERIFY(totals->rate_label()->text().startsWith(QStringLiteral("100% passed")));
  }

  void todays_totals_come_from_the_records_and_grow() {
    QTemporaryDir dir;
    const std::string today = skav::station::iso8601_now().substr(0, 10);
    const std::filesystem::path file = dir.filePath(QStringLiteral("skav-records.csv")).toStdString();
    std::ofstream(file) << skav::station::records_header()
                        << "2001-01-01T08:00:00+00:00,eth0,a,b,pass,pass,pass,pass,pass,pass,1.0,eth0\n"
                        << today << "T08:00:00+00:00,eth0,a,b,pass,pass,pass,pass,pass,pass,1.0,eth0\n"
                        << today << "T08:01:00+00:00,eth0,a,b,pass,fail,pass,pass,pass,fail,1.0,eth0\n";
    MainWindow window;
    skav::gui::test::FakeLine line(window, 1, file);
    QLabel* label = window.operator_panel()->totals()->today_label();
    QCOMPARE(label->text(), QStringLiteral("Today: 2 boards: 1 passed, 1 failed"));
    line.finish(0, record_of(Verdict::kPass, today + "T09:00:00+00:00"));
    QCOMPARE(label->text(), QStringLiteral("Today: 3 boards: 2 passed, 1 failed"));
    // Reset starts the shift again, not the day.
    window.reset_shift_totals();
    QCOMPARE(label->text(), QStringLiteral("Today: 3 boards: 2 passed, 1 failed"));
  }

  void zoom_sound_and_fold_are_remembered() {
    int points = 0;
    {
      MainWindow window;
      window.show();
      QVERIFY(QTest::qWaitForWindowActive(&window));
      points = window.log_points();
      window.log().append("log text\r\n");
      QTest::keyClick(window.log_view(), Qt::Key_Plus, Qt::ControlModifier);
      QTest::keyClick(window.log_view(), Qt::Key_Equal, Qt::ControlModifier);
      QCOMPARE(window.log_points(), points + 2);
      QTest::keyClick(window.log_view(), Qt::Key_Minus, Qt::ControlModifier);
      QCOMPARE(window.log_points(), points + 1);
      QCOMPARE(window.log_view()->bytes(), std::string("log text\r\n"));
      if (window.sound_action()->isChecked()) window.sound_action()->trigger();
      window.panel_action()->trigger();
      QVERIFY(window.operator_panel()->isHidden());
    }
    {
      MainWindow window;
      QCOMPARE(window.log_points(), points + 1);
      QVERIFY(!window.sound_action()->isChecked());
      QVERIFY(!window.panel_action()->isChecked());
      QVERIFY(window.operator_panel()->isHidden());
      window.panel_action()->trigger();
      window.sound_action()->trigger();
      window.zoom_log(-1);
    }
    MainWindow window;
    QCOMPARE(window.log_points(), points);
    QVERIFY(window.sound_action()->isChecked());
    QVERIFY(!window.operator_panel()->isHidden());
  }

  // What the operator must know while the station runs (no address ledger on this PC) stays on
  // a line of the panel, in the colour of a failure; none when there is nothing to say.
  // Each verdict has its shape beside the word, named for a screen reader.
  void the_word_has_its_shape_beside_it_data() {
    QTest::addColumn<int>("overall");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("mark");
    QTest::newRow("pass") << static_cast<int>(Verdict::kPass) << "PASS" << "tick";
    QTest::newRow("fail") << static_cast<int>(Verdict::kFail) << "FAIL" << "cross";
    QTest::newRow("timeout") << static_cast<int>(Verdict::kTimeout) << "TIMEOUT" << "clock";
    QTest::newRow("stopped") << static_cast<int>(Verdict::kStopped) << "INTERRUPTED" << "pause";
    QTest::newRow("adapter-lost") << static_cast<int>(Verdict::kAdapterLost) << "INTERRUPTED" << "pause";
    QTest::newRow("no board") << -1 << "SEARCHING" << "magnifier";
  }
  void the_word_has_its_shape_beside_it() {
    QFETCH(int, overall);
    QFETCH(QString, word);
    QFETCH(QString, mark);
    MainWindow window;
    skav::gui::test::FakeLine line(window, 1);
    line.show(0, finished(overall < 0 ? std::nullopt : std::optional<Verdict>(static_cast<Verdict>(overall))));
    VerdictPanel* verdict = window.operator_panel()->verdict();
    QCOMPARE(verdict->word_label()->text(), word);
    QCOMPARE(verdict->mark_view()->accessibleName(), mark);
    QCOMPARE(verdict->mark_view()->colour(), verdict->word_label()->palette().color(QPalette::WindowText));
  }

  void the_folded_panel_leaves_the_verdict_in_the_status_bar() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!window.panel_action()->isChecked()) window.panel_action()->trigger();
    skav::gui::test::FakeLine line(window, 1);
    line.show(0, finished(Verdict::kPass));
    const QString caption = window.windowTitle();
    QVERIFY(window.verdict_pane()->isHidden());

    window.panel_action()->trigger();  // F9: folded
    QVERIFY(window.operator_panel()->isHidden());
    skav::gui::VerdictPane* pane = window.verdict_pane();
    QVERIFY(pane->isVisible());
    QCOMPARE(pane->word_label()->text(), QStringLiteral("PASS"));
    QCOMPARE(pane->mark_view()->accessibleName(), QStringLiteral("tick"));
    const skav::present::Rgb good = skav::present::background_of(skav::present::Tone::kGood);
    QCOMPARE(pane->background(), QColor(good.red, good.green, good.blue));
    // The caption and the first pane keep their texts.
    QCOMPARE(window.windowTitle(), caption);
    QVERIFY(window.windowTitle().endsWith(QStringLiteral(" - SKAV")));
    QCOMPARE(window.message_text(), QStringLiteral("Ethernet -> sim0"));

    // The shape is drawn in the word's colour, and FAIL's is another than PASS's.
    const QColor ink = pane->mark_view()->colour();
    const QImage tick = pixels_of(pane->mark_view(), ink);
    QVERIFY(count_set(tick) > 0);
    line.show(0, finished(Verdict::kFail));
    QCOMPARE(pane->word_label()->text(), QStringLiteral("FAIL"));
    QCOMPARE(pane->mark_view()->accessibleName(), QStringLiteral("cross"));
    const QImage cross = pixels_of(pane->mark_view(), pane->mark_view()->colour());
    QVERIFY(count_set(cross) > 0);
    QVERIFY(tick != cross);

    window.panel_action()->trigger();  // unfolded: the panel shows it again
    QVERIFY(window.verdict_pane()->isHidden());
    QCOMPARE(window.operator_panel()->verdict()->mark_view()->accessibleName(), QStringLiteral("cross"));
  }

  // Reset, from its button and from the menu, empties the shift's count only when the
  // operator says yes.
  void reset_asks_before_it_empties_the_shift() {
    MainWindow window;
    QStringList asked;
    bool answer = false;
    window.set_confirm([&](const QString& question) {
      asked << question;
      return answer;
    });
    skav::gui::test::FakeLine line(window, 1);
    const std::string now = skav::station::iso8601_now();
    line.finish(0, record_of(Verdict::kPass, now));
    skav::gui::TotalsPanel* totals = window.operator_panel()->totals();
    const QString one = QStringLiteral("1 board   1 passed   0 failed");
    QCOMPARE(totals->counts_label()->text(), one);

    totals->reset_button()->click();
    window.reset_totals_action()->trigger();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked.first(), QString::fromLatin1(skav::present::kResetQuestion));
    QCOMPARE(totals->counts_label()->text(), one);
    QVERIFY(line.posted.empty());

    answer = true;
    window.reset_totals_action()->trigger();
    QCOMPARE(asked.size(), 3);
    QCOMPARE(totals->counts_label()->text(), QStringLiteral("0 boards   0 passed   0 failed"));
  }

  // Without a hook, the question is a message box whose default is No.
  void reset_asks_in_a_message_box_that_defaults_to_no() {
    MainWindow window;
    skav::gui::test::FakeLine line(window, 1);
    window.show();
    line.finish(0, record_of(Verdict::kPass, skav::station::iso8601_now()));
    QString shown;
    bool default_no = false;
    QTimer::singleShot(0, &window, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      shown = box->text();
      default_no = box->defaultButton() == box->button(QMessageBox::No);
      box->button(QMessageBox::No)->click();
    });
    window.operator_panel()->totals()->reset_button()->click();
    QCOMPARE(shown, QString::fromLatin1(skav::present::kResetQuestion));
    QVERIFY(default_no);
    QCOMPARE(window.operator_panel()->totals()->counts_label()->text(),
             QStringLiteral("1 board   1 passed   0 failed"));
  }

  void a_notice_line_shows_while_set() {
    MainWindow window;
    QLabel* notice = window.operator_panel()->notice_label();
    QVERIFY(notice->isHidden());
    window.operator_panel()->set_notice(QStringLiteral("addresses are guarded per user only"));
    QVERIFY(!notice->isHidden());
    QCOMPARE(notice->text(), QStringLiteral("addresses are guarded per user only"));
    QVERIFY(reddish(notice->palette().color(QPalette::WindowText)));
    window.operator_panel()->set_notice(QString());
    QVERIFY(notice->isHidden());
  }

 private:
  QTemporaryDir settings_dir_;
};

SKAV_GUI_TEST(OperatorPanelTest);
#include "operator_panel_test.moc"
