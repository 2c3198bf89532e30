#include "frontends/qt/interface_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <string>

#include "present/interface_choice.h"

namespace skav::gui {

InterfaceDialog::InterfaceDialog(const std::vector<std::string>& adapters, int selected,
                                 const MacDigits::Digits& digits, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Network Interface"));
  setObjectName(QStringLiteral("interfaceDialog"));

  // Created in tab order: the six fields, the list, OK, Cancel.
  auto* group = new QGroupBox(QStringLiteral("Ethernet MAC Address"), this);
  auto* pairs = new QHBoxLayout(group);
  auto* validator =
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,2}")), this);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    auto* field = new QLineEdit(group);
    field->setObjectName(QStringLiteral("pair%1").arg(i));
    field->setMaxLength(2);
    field->setValidator(validator);
    field->setAlignment(Qt::AlignCenter);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("MMM")) + 8);
    field->setText(QString::fromLatin1(&digits[2 * i], 2));
    pairs->addWidget(field);
    fields_[i] = field;
  }
  pairs->addStretch();

  adapters_ = new QComboBox(this);
  adapters_->setObjectName(QStringLiteral("adapterBox"));
  adapters_->setEditable(false);
  adapters_->setMinimumContentsLength(40);
  adapters_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  for (const std::string& text : adapters) adapters_->addItem(QString::fromStdString(text));
  int count = static_cast<int>(adapters.size());
  adapters_->setCurrentIndex(selected >= 0 && selected < count ? selected : -1);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  ok->setDefault(true);
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &InterfaceDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("message"));
  message_->setWordWrap(true);
  message_->setStyleSheet(QStringLiteral("color: #b00000"));
  message_->hide();

  auto* label = new QLabel(QStringLiteral("Network Interface Select"), this);
  label->setBuddy(adapters_);

  auto* buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* lower = new QHBoxLayout;
  lower->addWidget(group, 1);
  lower->addSpacing(24);
  lower->addLayout(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(adapters_);
  layout->addLayout(lower);
  layout->addWidget(message_);

  for (std::size_t i = 1; i < fields_.size(); ++i) setTabOrder(fields_[i - 1], fields_[i]);
  setTabOrder(fields_.back(), adapters_);
  setTabOrder(adapters_, ok);
  setTabOrder(ok, cancel);
  fields_.front()->setFocus();
}

void InterfaceDialog::offer_ports(const std::vector<int>& ticked, bool running_several) {
  if (ports_box_ != nullptr) return;
  running_several_ = running_several;
  ports_box_ = new QGroupBox(QStringLiteral("Several ports: a station on each ticked adapter"), this);
  ports_box_->setObjectName(QStringLiteral("portsBox"));
  ports_box_->setCheckable(true);
  port_list_ = new QListWidget(ports_box_);
  port_list_->setObjectName(QStringLiteral("portList"));
  for (int i = 0; i < adapters_->count(); ++i) {
    auto* item = new QListWidgetItem(adapters_->itemText(i), port_list_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    bool on = std::find(ticked.begin(), ticked.end(), i) != ticked.end();
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
  int rows = std::min(std::max(adapters_->count(), 2), 6);
  port_list_->setFixedHeight(port_list_->sizeHintForRow(0) * rows + 2 * port_list_->frameWidth() + 4);
  auto* note = new QLabel(
      QStringLiteral("The ports change at the next start of skav-gui. The first ticked adapter "
                     "is the one stored for a single port."),
      ports_box_);
  note->setWordWrap(true);
  auto* box_layout = new QVBoxLayout(ports_box_);
  box_layout->addWidget(port_list_);
  box_layout->addWidget(note);
  ports_box_->setChecked(ticked.size() >= 2);
  // Below the list of adapters, before the address.
  if (auto* layout = qobject_cast<QVBoxLayout*>(this->layout())) layout->insertWidget(2, ports_box_);
  setTabOrder(adapters_, ports_box_);
  setTabOrder(ports_box_, port_list_);

  connect(ports_box_, &QGroupBox::toggled, this, [this] { follow_ticks(); });
  connect(port_list_, &QListWidget::itemChanged, this, [this] { follow_ticks(); });
  follow_ticks();
}

bool InterfaceDialog::several_ports() const { return ports_box_ != nullptr && ports_box_->isChecked(); }

std::vector<int> InterfaceDialog::ticked_ports() const {
  std::vector<int> ticked;
  if (port_list_ == nullptr) return ticked;
  for (int i = 0; i < port_list_->count(); ++i)
    if (port_list_->item(i)->checkState() == Qt::Checked) ticked.push_back(i);
  return ticked;
}

void InterfaceDialog::follow_ticks() {
  // While several ports run, the list shows the first port's adapter: it keeps it.
  adapters_->setEnabled(!running_several_ && !several_ports());
  if (running_several_ || !several_ports()) return;
  std::vector<int> ticked = ticked_ports();
  if (!ticked.empty()) adapters_->setCurrentIndex(ticked.front());
}

int InterfaceDialog::selected_index() const { return adapters_->currentIndex(); }

MacDigits::Digits InterfaceDialog::digits() const {
  MacDigits::Digits digits;
  digits.fill('0');
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    QByteArray pair = fields_[i]->text().toLatin1();
    for (qsizetype k = 0; k < 2 && k < pair.size(); ++k)
      digits[2 * i + static_cast<std::size_t>(k)] = pair[k];
  }
  return digits;
}

void InterfaceDialog::accept() {
  std::array<std::string, 6> pairs;
  for (std::size_t i = 0; i < fields_.size(); ++i) pairs[i] = fields_[i]->text().toStdString();
  const present::PairsCheck check = present::check_pairs(pairs);
  if (check.bad_field) {
    QLineEdit* field = fields_[static_cast<std::size_t>(*check.bad_field)];
    show_message(QString::fromLatin1(present::kPairsNeedTwoDigits));
    field->setFocus();
    field->selectAll();
    return;
  }
  if (several_ports() && ticked_ports().size() < 2) {
    show_message(QString::fromLatin1(present::kTickTwoPorts));
    port_list_->setFocus();
    return;
  }
  if (apply_ && !apply_(selected_index(), check.digits)) {
    show_message(QString::fromLatin1(present::kRunHoldsTheAdapter));
    return;
  }
  QDialog::accept();
}

void InterfaceDialog::show_message(const QString& text) {
  message_->setText(text);
  message_->show();
}

}  // namespace skav::gui
