#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include "gui_test_main.h"
#include "frontends/qt/interface_dialog.h"
#include "frontends/qt/log_view.h"
#include "frontends/qt/main_window.h"
#include "station_rig.h"

using skav::MacDigits;
using skav::gui::InterfaceDialog;
using skav::gui::MainWindow;
using skav::gui::test::StationRig;

namespace {

MacDigits::Digits digits_of(const char* text) {
  MacDigits::Digits digits{};
  for (std::size_t i = 0; i < digits.size(); ++i) digits[i] = text[i];
  return digits;
}

std::string text_of(const MacDigits::Digits& digits) { return std::string(digits.data(), digits.size()); }

// Runs `step` on the Network Interface dialog once the window's command has opened it.
void with_next_dialog(const std::function<void(InterfaceDialog&)>& step, bool& ran) {
  QTimer::singleShot(0, [step, &ran] {
    auto* dialog = qobject_cast<InterfaceDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    ran = true;
    step(*dialog);
    // Whatever the step left open is cancelled, so the command always returns.
    if (dialog->isVisible()) dialog->reject();
  });
}

QPushButton* button(InterfaceDialog& dialog, const QString& text) {
  for (QPushButton* b : dialog.findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

void tick(QListWidget* list, int row, bool on) {
  list->item(row)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

}  // namespace

class InterfaceDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void shows_the_pairs_the_list_and_its_texts();
  void selection_outside_the_list_selects_nothing();
  void fields_take_two_hexadecimal_digits_only();
  void a_short_field_keeps_the_dialog_open();
  void a_refused_apply_keeps_the_dialog_open();
  void ok_stores_the_changed_pair_in_the_station_and_the_settings();
  void enter_is_ok_and_escape_is_cancel();
  void several_ports_need_two_ticked_and_lead_the_list();
  void the_window_stores_and_restores_a_choice_of_two_ports();

 private:
  QTemporaryDir settings_dir_;
};

void InterfaceDialogTest::shows_the_pairs_the_list_and_its_texts() {
  InterfaceDialog dialog({"eth0 adapter", "Simulated board link"}, 1, digits_of("001122334455"));
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Network Interface"));
  QStringList pairs;
  for (int i = 0; i < 6; ++i) pairs << dialog.pair_field(i)->text();
  QCOMPARE(pairs, (QStringList{"00", "11", "22", "33", "44", "55"}));
  QCOMPARE(dialog.adapter_box()->count(), 2);
  QCOMPARE(dialog.adapter_box()->itemText(0), QStringLiteral("eth0 adapter"));
  QCOMPARE(dialog.adapter_box()->currentIndex(), 1);
  QVERIFY(!dialog.adapter_box()->isEditable());
  QCOMPARE(dialog.focusWidget(), dialog.pair_field(0));

  QStringList labels;
  for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
  QVERIFY(labels.contains("Network Interface Select"));
  QVERIFY(button(dialog, "OK") != nullptr && button(dialog, "OK")->isDefault());
  QVERIFY(button(dialog, "Cancel") != nullptr);
}

void InterfaceDialogTest::selection_outside_the_list_selects_nothing() {
  InterfaceDialog beyond({"a", "b"}, 2, digits_of("001122334455"));
  QCOMPARE(beyond.selected_index(), -1);
  InterfaceDialog negative({"a", "b"}, -1, digits_of("001122334455"));
  QCOMPARE(negative.selected_index(), -1);
  InterfaceDialog empty({}, 0, digits_of("001122334455"));
  QCOMPARE(empty.selected_index(), -1);
}

void InterfaceDialogTest::fields_take_two_hexadecimal_digits_only() {
  InterfaceDialog dialog({"a"}, 0, digits_of("001122334455"));
  QLineEdit* field = dialog.pair_field(2);
  field->clear();
  QTest::keyClicks(field, "zA-1b");
  QCOMPARE(field->text(), QStringLiteral("A1"));
}

void InterfaceDialogTest::a_short_field_keeps_the_dialog_open() {
  InterfaceDialog dialog({"a"}, 0, digits_of("001122334455"));
  bool applied = false;
  dialog.set_apply([&applied](int, const MacDigits::Digits&) { return applied = true; });
  dialog.show();
  dialog.pair_field(4)->setText("4");
  dialog.accept();
  QVERIFY(!applied);
  QVERIFY(dialog.isVisible());
  QVERIFY(dialog.message_label()->isVisible());
  QVERIFY(!dialog.message_label()->text().isEmpty());

  dialog.pair_field(4)->setText("");
  dialog.accept();
  QVERIFY(!applied);
  QVERIFY(dialog.isVisible());

  dialog.pair_field(4)->setText("4f");
  dialog.accept();
  QVERIFY(applied);
  QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
}

void InterfaceDialogTest::a_refused_apply_keeps_the_dialog_open() {
  InterfaceDialog dialog({"a"}, 0, digits_of("001122334455"));
  int calls = 0;
  dialog.set_apply([&calls](int, const MacDigits::Digits&) { return ++calls > 1; });
  dialog.show();
  dialog.accept();
  QCOMPARE(calls, 1);
  QVERIFY(dialog.isVisible());
  QVERIFY(dialog.message_label()->isVisible());
  dialog.accept();
  QCOMPARE(calls, 2);
  QVERIFY(!dialog.isVisible());
}

void InterfaceDialogTest::ok_stores_the_changed_pair_in_the_station_and_the_settings() {
  StationRig rig(0);
  rig.station->post_start_up();
  rig.settle();
  bool ran = false;
  QStringList shown;
  with_next_dialog(
      [&shown](InterfaceDialog& dialog) {
        for (int i = 0; i < 6; ++i) shown << dialog.pair_field(i)->text();
        dialog.pair_field(2)->selectAll();
        QTest::keyClicks(dialog.pair_field(2), "AB");
        QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton);
      },
      ran);
  rig.window.show_interface_dialog();
  rig.settle();
  QVERIFY(ran);
  QCOMPARE(shown, (QStringList{"00", "11", "22", "33", "44", "55"}));
  QCOMPARE(rig.digits(), std::string("0011AB334455"));

  skav::settings::FileSettingsStore reread(rig.settings_path());
  MacDigits::Digits stored{};
  QCOMPARE(reread.machwid_read(nullptr, stored), skav::settings::kOk);
  QCOMPARE(text_of(stored), std::string("0011AB334455"));
  std::int32_t net_if = -1;
  QCOMPARE(reread.number_read(nullptr, skav::settings::kNetIF, net_if), skav::settings::kOk);
  QCOMPARE(net_if, 0);
  QVERIFY(rig.station->snapshot()->adapter_open);
}

void InterfaceDialogTest::enter_is_ok_and_escape_is_cancel() {
  StationRig rig(0);
  rig.station->post_start_up();
  rig.settle();
  bool ran = false;
  with_next_dialog(
      [](InterfaceDialog& dialog) {
        dialog.pair_field(5)->selectAll();
        QTest::keyClicks(dialog.pair_field(5), "99");
        QTest::keyClick(dialog.pair_field(5), Qt::Key_Escape);
      },
      ran);
  rig.window.show_interface_dialog();
  rig.settle();
  QVERIFY(ran);
  QCOMPARE(rig.digits(), std::string("001122334455"));

  ran = false;
  with_next_dialog(
      [](InterfaceDialog& dialog) {
        dialog.pair_field(0)->selectAll();
        QTest::keyClicks(dialog.pair_field(0), "a0");
        QTest::keyClick(dialog.pair_field(0), Qt::Key_Return);
      },
      ran);
  rig.window.show_interface_dialog();
  rig.settle();
  QVERIFY(ran);
  QCOMPARE(rig.digits(), std::string("a01122334455"));
}

void InterfaceDialogTest::several_ports_need_two_ticked_and_lead_the_list() {
  InterfaceDialog dialog({"eth0", "eth1", "eth2"}, 0, digits_of("001122334455"));
  QVERIFY(dialog.ports_box() == nullptr);  // only where offered
  dialog.offer_ports({}, false);
  int applied_index = -2;
  dialog.set_apply([&applied_index](int index, const MacDigits::Digits&) {
    applied_index = index;
    return true;
  });
  dialog.show();
  QVERIFY(!dialog.several_ports());
  QVERIFY(dialog.adapter_box()->isEnabled());

  dialog.ports_box()->setChecked(true);
  tick(dialog.port_list(), 2, true);
  // The list's adapter is the first ticked, and only the ticks choose it.
  QCOMPARE(dialog.selected_index(), 2);
  QVERIFY(!dialog.adapter_box()->isEnabled());
  dialog.accept();
  QCOMPARE(applied_index, -2);
  QVERIFY(dialog.isVisible());
  QVERIFY(dialog.message_label()->isVisible());

  tick(dialog.port_list(), 1, true);
  QCOMPARE(dialog.selected_index(), 1);
  dialog.accept();
  QCOMPARE(applied_index, 1);
  QCOMPARE(dialog.ticked_ports(), (std::vector<int>{1, 2}));
  QVERIFY(!dialog.isVisible());

  // While several ports run, the list keeps showing the first port's adapter.
  InterfaceDialog running({"eth0", "eth1", "eth2"}, 1, digits_of("001122334455"));
  running.offer_ports({1, 2}, true);
  QVERIFY(running.several_ports());
  tick(running.port_list(), 0, true);
  QCOMPARE(running.selected_index(), 1);
  QVERIFY(!running.adapter_box()->isEnabled());
}

void InterfaceDialogTest::the_window_stores_and_restores_a_choice_of_two_ports() {
  QVERIFY(settings_dir_.isValid());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir_.path());
  StationRig rig(0);
  rig.backend().add_adapter({"eth1", "First port"});
  rig.backend().add_adapter({"eth2", "Second port"});
  rig.window.set_ports_choice(true);
  rig.station->post_start_up();
  rig.settle();
  bool ran = false;
  with_next_dialog(
      [](InterfaceDialog& dialog) {
        QVERIFY(!dialog.several_ports());
        dialog.ports_box()->setChecked(true);
        tick(dialog.port_list(), 1, true);
        tick(dialog.port_list(), 2, true);
        QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton);
      },
      ran);
  rig.window.show_interface_dialog();
  rig.settle();
  QVERIFY(ran);
  QCOMPARE(MainWindow::stored_ports(), (QStringList{"eth1", "eth2"}));
  // NetIF keeps the first of them.
  skav::settings::FileSettingsStore reread(rig.settings_path());
  std::int32_t net_if = -1;
  QCOMPARE(reread.number_read(nullptr, skav::settings::kNetIF, net_if), skav::settings::kOk);
  QCOMPARE(net_if, 1);

  // The next dialog shows the choice; switched off, one port is stored again.
  ran = false;
  std::vector<int> shown;
  with_next_dialog(
      [&shown](InterfaceDialog& dialog) {
        if (dialog.several_ports()) shown = dialog.ticked_ports();
        dialog.ports_box()->setChecked(false);
        QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton);
      },
      ran);
  rig.window.show_interface_dialog();
  rig.settle();
  QVERIFY(ran);
  QCOMPARE(shown, (std::vector<int>{1, 2}));
  QVERIFY(MainWindow::stored_ports().isEmpty());
}

SKAV_GUI_TEST(InterfaceDialogTest);
#include "interface_dialog_test.moc"
