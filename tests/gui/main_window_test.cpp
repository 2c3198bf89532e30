#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

#include "gui_test_main.h"
#include "core/log.h"
#include "core/station/station_events.h"
#include "frontends/qt/log_view.h"
#include "frontends/qt/main_window.h"
#include "present/log_document.h"
#include "station_rig.h"

using skav::present::LogDocument;
using skav::gui::MainWindow;
using skav::gui::test::StationRig;

namespace {

QStringList action_texts(const QList<QAction*>& actions) {
  QStringList texts;
  for (QAction* action : actions) texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
  return texts;
}

QMenu* menu_named(MainWindow& window, const QString& title) {
  for (QAction* action : window.menuBar()->actions())
    if (action->text() == title) return action->menu();
  return nullptr;
}

QByteArray read_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return file.readAll();
}

// Closes the next modal message box and reports its text.
void close_next_message_box(QString& text) {
  QTimer::singleShot(0, [&text] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      box->accept();
    }
  });
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // The window's own remembered choices go to a folder of the test's.
  void initTestCase() {
    QVERIFY(settings_dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir_.path());
  }
  void caption_and_menus();
  void status_bar_item_stays_checked();
  void barcode_item_follows_the_mode_and_is_stored();
  void status_pane_in_both_modes_and_menu_prompts();
  void mac_entry_accepts_twelve_characters_and_enter();
  void mac_entry_with_eleven_characters_asks_again();
  void mac_entry_backspace_takes_back_a_character();
  void typing_without_a_pending_entry_changes_nothing();
  void editing_keys_leave_the_log_alone_and_copy_copies();
  void save_then_open_gives_the_same_bytes();
  void open_of_a_too_large_file_gives_a_new_log();
  void new_log_empties_it_and_repeats_the_start_up();
  void ctrl_n_reaches_new_and_not_the_mac_entry();
  void about_box();
  void appends_from_other_threads_arrive_in_order();
  void progress_bar_shows_section_and_percent();
  void interface_item_disabled_while_a_run_is_active();

 private:
  QTemporaryDir settings_dir_;
};

void MainWindowTest::caption_and_menus() {
  MainWindow window;
  QCOMPARE(window.windowTitle(), QStringLiteral(" - SKAV"));
  QCOMPARE(action_texts(window.menuBar()->actions()),
           (QStringList{"&File", "&View", "&Help"}));
  QCOMPARE(action_texts(menu_named(window, "&File")->actions()), (QStringList{"--", "E&xit"}));
  QCOMPARE(action_texts(menu_named(window, "&View")->actions()),
           (QStringList{"&Status Bar", "Interface", "Barcode", "--", "Operator &Panel", "Zoom &In",
                        "Zoom &Out", "&Sound", "&Reset Shift Totals"}));
  QCOMPARE(action_texts(menu_named(window, "&Help")->actions()),
           (QStringList{"&About SKAV..."}));

  QStringList shortcuts;
  for (QAction* action : window.actions()) shortcuts << action->shortcut().toString();
  QVERIFY(shortcuts.contains("Ctrl+N"));
  QVERIFY(shortcuts.contains("Ctrl+O"));
  QVERIFY(shortcuts.contains("Ctrl+S"));

  auto* cap = window.findChild<QLabel*>("indicatorCAP");
  QVERIFY(cap != nullptr);
  QCOMPARE(cap->text(), QStringLiteral("CAP"));
  QVERIFY(window.findChild<QLabel*>("indicatorNUM") != nullptr);
  QVERIFY(window.findChild<QLabel*>("indicatorSCRL") != nullptr);
}

void MainWindowTest::status_bar_item_stays_checked() {
  MainWindow window;
  window.show();
  QVERIFY(window.status_bar_action()->isChecked());
  window.status_bar_action()->trigger();
  QVERIFY(window.status_bar_action()->isChecked());
  QVERIFY(window.statusBar()->isVisible());
}

void MainWindowTest::barcode_item_follows_the_mode_and_is_stored() {
  StationRig rig;  // first start: nothing stored
  rig.station->post_start_up();
  rig.settle();
  Q_EMIT rig.window.view_menu()->aboutToShow();
  QVERIFY(rig.window.barcode_action()->isChecked());

  rig.window.barcode_action()->trigger();
  rig.settle();
  QVERIFY(!rig.window.barcode_action()->isChecked());
  QVERIFY(rig.station->barcode_mode() == skav::station::BarcodeMode::kOff);
  skav::settings::FileSettingsStore reread(rig.settings_path());
  std::int32_t stored = -1;
  QCOMPARE(reread.number_read(nullptr, skav::settings::kBarCode, stored), skav::settings::kOk);
  QCOMPARE(stored, 0);

  rig.window.barcode_action()->trigger();
  rig.settle();
  QVERIFY(rig.window.barcode_action()->isChecked());
  QCOMPARE(reread.number_read(nullptr, skav::settings::kBarCode, stored), skav::settings::kOk);
  QCOMPARE(stored, 1);
}

void MainWindowTest::status_pane_in_both_modes_and_menu_prompts() {
  StationRig rig(1);
  QCOMPARE(rig.window.message_text(), QStringLiteral("Ready"));
  rig.station->post_start_up();
  rig.settle();
  rig.station->step();
  QCOMPARE(rig.window.message_text(), QStringLiteral("Ethernet -> Simulated board link"));

  rig.window.toggle_barcode();
  rig.settle();
  rig.station->step();
  QCOMPARE(rig.window.message_text(),
           QStringLiteral("Ethernet -> Simulated board link   MAC_Addr -> [00-11-22-33-44-55]"));

  // A highlighted item shows its prompt; items without one leave the Status Pane text.
  auto* exit = rig.window.findChild<QAction*>("actionExit");
  exit->showStatusText(&rig.window);
  QCOMPARE(rig.window.message_text(), QStringLiteral("Quit the application; prompts to save documents"));
  rig.window.status_bar_action()->showStatusText(&rig.window);
  QCOMPARE(rig.window.message_text(), QStringLiteral("Show or hide the status bar"));
  rig.window.barcode_action()->showStatusText(&rig.window);
  QCOMPARE(rig.window.message_text(),
           QStringLiteral("Ethernet -> Simulated board link   MAC_Addr -> [00-11-22-33-44-55]"));
}

void MainWindowTest::mac_entry_accepts_twelve_characters_and_enter() {
  StationRig rig(1);
  rig.station->post_start_up();
  rig.settle();
  QVERIFY(rig.until_entry_pending());
  QCOMPARE(rig.digits(), std::string("FFFFFFFFFFFF"));

  QTest::keyClicks(rig.window.log_view(), "00a0c914c829");
  rig.settle();
  QVERIFY(rig.station->entry_pending());
  QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
  rig.settle();
  QVERIFY(!rig.station->entry_pending());
  QCOMPARE(rig.digits(), std::string("00a0c914c829"));
  std::string log = rig.log_text();
  std::string tail = "Connected...\r\nInput MAC Address : 00a0c914c829\r\n";
  QVERIFY2(log.size() >= tail.size() && log.compare(log.size() - tail.size(), tail.size(), tail) == 0,
           log.c_str());
  QVERIFY(rig.window.log_view()->toPlainText().endsWith("Input MAC Address : 00a0c914c829\n"));
}

void MainWindowTest::mac_entry_with_eleven_characters_asks_again() {
  StationRig rig(1);
  rig.station->post_start_up();
  rig.settle();
  QVERIFY(rig.until_entry_pending());
  QTest::keyClicks(rig.window.log_view(), "00a0c914c82");
  rig.settle();
  QTest::keyClick(rig.window.log_view(), Qt::Key_Enter);
  rig.settle();
  QVERIFY(rig.station->entry_pending());
  QCOMPARE(rig.digits(), std::string("00a0c914c82F"));
  std::string log = rig.log_text();
  std::string tail = "Input MAC Address : 00a0c914c82\r\nInput MAC Address : ";
  QVERIFY2(log.size() >= tail.size() && log.compare(log.size() - tail.size(), tail.size(), tail) == 0,
           log.c_str());

  // The next entry starts from the first digit again.
  QTest::keyClicks(rig.window.log_view(), "0011223344AB");
  rig.settle();
  QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
  rig.settle();
  QVERIFY(!rig.station->entry_pending());
  QCOMPARE(rig.digits(), std::string("0011223344AB"));
}

void MainWindowTest::mac_entry_backspace_takes_back_a_character() {
  StationRig rig(1);
  rig.station->post_start_up();
  rig.settle();
  QVERIFY(rig.until_entry_pending());
  QTest::keyClicks(rig.window.log_view(), "00a0c914c829");
  rig.settle();
  QTest::keyClick(rig.window.log_view(), Qt::Key_Backspace);
  rig.settle();
  QVERIFY(rig.window.log_view()->toPlainText().endsWith("Input MAC Address : 00a0c914c82"));
  QTest::keyClicks(rig.window.log_view(), "7");
  rig.settle();
  QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
  rig.settle();
  QVERIFY(!rig.station->entry_pending());
  QCOMPARE(rig.digits(), std::string("00a0c914c827"));
  std::string log = rig.log_text();
  QVERIFY2(log.find("Input MAC Address : 00a0c914c827\r\n") != std::string::npos, log.c_str());
}

void MainWindowTest::typing_without_a_pending_entry_changes_nothing() {
  StationRig rig(1);
  rig.station->post_start_up();
  rig.settle();
  rig.station->step();  // "Waiting connecting to Target..."
  std::string before = rig.log_text();
  QVERIFY(!before.empty());
  QTest::keyClicks(rig.window.log_view(), "abc123");
  rig.settle();
  QTest::keyClick(rig.window.log_view(), Qt::Key_Return);
  rig.settle();
  QTest::keyClick(rig.window.log_view(), Qt::Key_Backspace);
  rig.settle();
  QCOMPARE(rig.log_text(), before);
  QCOMPARE(rig.digits(), std::string("001122334455"));
}

void MainWindowTest::editing_keys_leave_the_log_alone_and_copy_copies() {
  StationRig rig(1);
  rig.station->post_start_up();
  rig.settle();
  QVERIFY(rig.until_entry_pending());
  skav::gui::LogView* view = rig.window.log_view();
  std::string before = rig.log_text();
  QString shown = view->toPlainText();

  QApplication::clipboard()->setText("zzz");
  for (int key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp,
                  Qt::Key_Delete, Qt::Key_Insert})
    QTest::keyClick(view, static_cast<Qt::Key>(key));
  QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(view, Qt::Key_Backspace, Qt::AltModifier);
  QCOMPARE(rig.log_text(), before);
  QCOMPARE(view->toPlainText(), shown);
  QCOMPARE(rig.digits(), std::string("FFFFFFFFFFFF"));

  view->selectAll();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(QApplication::clipboard()->text(), shown);
  QCOMPARE(rig.log_text(), before);
}

void MainWindowTest::save_then_open_gives_the_same_bytes() {
  QTemporaryDir dir;
  MainWindow window;
  const std::string bytes = std::string("Waiting connecting to Target...\r\nlone\rcr\ttab \xe9\r\n") +
                            std::string(1, '\0') + "end";
  skav::log_sink(&window.log(), "%s", "Waiting connecting to Target...\r\n");
  window.log().append(bytes.substr(33));
  QCOMPARE(window.log_view()->bytes(), bytes);

  QString path = dir.filePath("log.txt");
  QVERIFY(window.save_to(path));
  QByteArray saved = read_file(path);
  QCOMPARE(std::string(saved.constData(), static_cast<std::size_t>(saved.size())), bytes);
  QCOMPARE(window.windowTitle(), QStringLiteral("log.txt - SKAV"));

  window.new_log();
  QVERIFY(window.log_view()->bytes().empty());
  QCOMPARE(window.windowTitle(), QStringLiteral(" - SKAV"));

  QVERIFY(window.open_file(path));
  QCOMPARE(window.log_view()->bytes(), bytes);
  QCOMPARE(window.windowTitle(), QStringLiteral("log.txt - SKAV"));
  QCOMPARE(window.log_view()->toPlainText(), QStringLiteral("Waiting connecting to Target...\nlone"
                                                            "cr\ttab \u00e9\nend"));

  // Later saves go to the same file.
  window.log().append("more\r\n");
  window.save_log();
  QCOMPARE(read_file(path), QByteArray::fromStdString(bytes + "more\r\n"));
}

void MainWindowTest::open_of_a_too_large_file_gives_a_new_log() {
  QTemporaryDir dir;
  QString path = dir.filePath("big.log");
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray line(99, 'x');
    line += '\n';
    for (std::size_t written = 0; written <= LogDocument::kLimit; written += 100) file.write(line);
  }
  QVERIFY(QFileInfo(path).size() > static_cast<qint64>(LogDocument::kLimit));

  MainWindow window;
  window.log().append("old text\r\n");
  QString message;
  close_next_message_box(message);
  QVERIFY(!window.open_file(path));
  QCOMPARE(message, QStringLiteral("The file is too large to open."));
  QVERIFY(window.log_view()->bytes().empty());
  QCOMPARE(window.windowTitle(), QStringLiteral(" - SKAV"));
}

void MainWindowTest::new_log_empties_it_and_repeats_the_start_up() {
  StationRig rig(0);
  rig.station->post_start_up();
  rig.settle();
  rig.station->step();
  QVERIFY(!rig.log_text().empty());
  QVERIFY(rig.window.save_to(rig.dir_path("first.log")));

  // A changed setting shows that the start-up ran again.
  rig.store().number_write(nullptr, skav::settings::kBarCode, 1);
  rig.window.new_log();
  rig.settle();
  QCOMPARE(rig.log_text(), std::string());
  QCOMPARE(rig.window.windowTitle(), QStringLiteral(" - SKAV"));
  QVERIFY(rig.station->barcode_mode() == skav::station::BarcodeMode::kOn);
  QVERIFY(rig.window.file_path().isEmpty());
}

void MainWindowTest::ctrl_n_reaches_new_and_not_the_mac_entry() {
  MainWindow window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QString received;
  window.log_view()->set_key_handler([&received](char c) { received += QLatin1Char(c); });
  window.log().append("text\r\n");
  QTest::keyClick(window.log_view(), Qt::Key_N, Qt::ControlModifier);
  QVERIFY(window.log_view()->bytes().empty());
  QVERIFY(received.isEmpty());
  QTest::keyClick(window.log_view(), Qt::Key_A);
  QCOMPARE(received, QStringLiteral("a"));
}

void MainWindowTest::about_box() {
  MainWindow window;
  QString caption;
  QStringList texts;
  bool had_ok = false;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    caption = box->windowTitle();
    for (QLabel* label : box->findChildren<QLabel*>())
      if (!label->text().isEmpty()) texts << label->text();
    for (QPushButton* button : box->findChildren<QPushButton*>()) {
      if (button->text() == "OK" && button->isDefault()) {
        had_ok = true;
        button->click();
      }
    }
    if (box->isVisible()) box->close();
  });
  window.findChild<QAction*>("actionAbout")->trigger();
  QCOMPARE(caption, QStringLiteral("About SKAV"));
  QVERIFY(texts.contains("SKAV Version 1.0"));
  QCOMPARE(texts.size(), 2);
  QVERIFY(had_ok);
}

void MainWindowTest::appends_from_other_threads_arrive_in_order() {
  MainWindow window;
  std::string expected;
  for (int i = 0; i < 3000; ++i) expected += "line " + std::to_string(i) + "\r\n";
  std::thread worker([&window] {
    for (int i = 0; i < 3000; ++i) skav::log_sink(&window.log(), "line %d\r\n", i);
  });
  worker.join();
  // Nothing is applied before the window's thread runs the queued work.
  QVERIFY(window.log_view()->bytes().empty());
  QCoreApplication::sendPostedEvents();
  QCOMPARE(window.log_view()->bytes(), expected);

  std::thread eraser([&window] {
    window.log().append("abc\r\n");
    window.log().erase_last();
    window.log().erase_last();
  });
  eraser.join();
  // An append on the window's thread comes after what other threads queued before it.
  window.log().append("!");
  QCOMPARE(window.log_view()->bytes(), expected + "ab!");
}

namespace {

// A snapshot of a run whose `slot` step moves `done` of `total` bytes.
std::shared_ptr<const skav::station::StationSnapshot> running(skav::station::StepSlot slot,
                                                               std::uint64_t done, std::uint64_t total) {
  auto snapshot = std::make_shared<skav::station::StationSnapshot>();
  snapshot->run_status = skav::station::RunStatus::kRunning;
  snapshot->board.emplace();
  skav::station::StepView& step = snapshot->board->steps[static_cast<std::size_t>(slot)];
  step.slot = slot;
  step.state = skav::station::StepView::State::kRunning;
  step.done = done;
  step.total = total;
  return snapshot;
}

}  // namespace

// With the operator's panel folded away, the status bar shows the transfer.
void MainWindowTest::progress_bar_shows_section_and_percent() {
  MainWindow window;
  window.show();
  if (window.panel_action()->isChecked()) window.panel_action()->trigger();
  QProgressBar* bar = window.progress_bar();
  QVERIFY(!bar->isVisible());
  std::thread worker([&window] {
    window.events().on_snapshot(running(skav::station::StepSlot::kKernel, 512, 2048));
  });
  worker.join();
  QCoreApplication::sendPostedEvents();
  QVERIFY(bar->isVisible());
  QCOMPARE(bar->value(), 25);
  QCOMPARE(bar->text(), QStringLiteral("kernel 25%"));

  window.events().on_snapshot(running(skav::station::StepSlot::kFilesystem, 2048, 2048));
  QCOMPARE(bar->text(), QStringLiteral("filesystem 100%"));
  std::thread ender([&window] {
    window.events().on_snapshot(std::make_shared<skav::station::StationSnapshot>());
  });
  ender.join();
  QCoreApplication::sendPostedEvents();
  QVERIFY(!bar->isVisible());

  // Unfolded, the panel's steps show it instead.
  window.panel_action()->trigger();
  window.events().on_snapshot(running(skav::station::StepSlot::kKernel, 512, 2048));
  QVERIFY(!bar->isVisible());
  window.panel_action()->trigger();
  QVERIFY(bar->isVisible());
  window.panel_action()->trigger();
}

void MainWindowTest::interface_item_disabled_while_a_run_is_active() {
  MainWindow window;
  QVERIFY(window.interface_action()->isEnabled());
  std::thread starter([&window] {
    window.events().on_snapshot(running(skav::station::StepSlot::kKernel, 0, 10));
  });
  starter.join();
  QCoreApplication::sendPostedEvents();
  QVERIFY(!window.interface_action()->isEnabled());
  window.events().on_snapshot(std::make_shared<skav::station::StationSnapshot>());
  QVERIFY(window.interface_action()->isEnabled());
}

SKAV_GUI_TEST(MainWindowTest);
#include "main_window_test.moc"
