#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/mac_digits.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace skav::gui {

// The Network Interface dialog: the adapter list and the MAC Digits in six two-digit fields.
// OK with every field holding two hexadecimal digits hands the choice to the apply function;
// a field with fewer digits, or a refused apply, keeps the dialog open with a message.
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

  QComboBox* adapter_box() const { return adapters_; }
  QLineEdit* pair_field(int i) const { return fields_[static_cast<std::size_t>(i)]; }
  QLabel* message_label() const { return message_; }

  void accept() override;

 private:
  void show_message(const QString& text);

  QComboBox* adapters_ = nullptr;
  std::array<QLineEdit*, 6> fields_{};
  QLabel* message_ = nullptr;
  Apply apply_;
};

}  // namespace skav::gui
