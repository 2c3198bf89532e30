#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/mac_digits.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace skav::gui {

// The Network Interface dialog: the adapter list and the MAC Digits in six two-digit fields.
// OK with every field holding two hexadecimal digits hands the choice to the apply function;
// a field with fewer digits, or a refused apply, keeps the dialog open with a message.
// Where offered, a Several Ports section ticks adapters for a station with a port on each; the
// list's adapter is then the first ticked, and OK needs two ticked or more.
class InterfaceDialog : public QDialog {
  Q_OBJECT

 public:
  // Carries out the choice: adapter index (-1 none) and digits. False: refused, stay open.
  using Apply = std::function<bool(int index, const MacDigits::Digits& digits)>;

  // `selected` outside the list selects nothing.
  InterfaceDialog(const std::vector<std::string>& adapters, int selected,
                  const MacDigits::Digits& digits, QWidget* parent = nullptr);

  void set_apply(Apply apply) { apply_ = std::move(apply); }
  // The list's selection, -1 when none.
  int selected_index() const;
  // The six fields' digits; only meaningful when every field holds two characters.
  MacDigits::Digits digits() const;

  // Adds the Several Ports section with `ticked` (indexes into the list) ticked; it is on when
  // two or more are. `running_several`: the window runs several ports now, whose adapters stay
  // until the next start, so the list shows the first port's adapter and cannot be changed.
  void offer_ports(const std::vector<int>& ticked, bool running_several);
  // The section is offered and on.
  bool several_ports() const;
  // The ticked adapters, in list order.
  std::vector<int> ticked_ports() const;

  QComboBox* adapter_box() const { return adapters_; }
  QLineEdit* pair_field(int i) const { return fields_[static_cast<std::size_t>(i)]; }
  QLabel* message_label() const { return message_; }
  QGroupBox* ports_box() const { return ports_box_; }
  QListWidget* port_list() const { return port_list_; }

  void accept() override;

 private:
  void show_message(const QString& text);
  // With the section on, the list shows the first ticked adapter.
  void follow_ticks();

  QComboBox* adapters_ = nullptr;
  std::array<QLineEdit*, 6> fields_{};
  QLabel* message_ = nullptr;
  QGroupBox* ports_box_ = nullptr;
  QListWidget* port_list_ = nullptr;
  bool running_several_ = false;
  Apply apply_;
};

}  // namespace skav::gui
