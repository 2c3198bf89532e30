#include "frontends/qt/main_window.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "core/station/station.h"
#include "frontends/qt/about_dialog.h"
#include "frontends/qt/alarm_tone.h"
#include "frontends/qt/app_icon.h"
#include "frontends/qt/bridges.h"
#include "frontends/qt/interface_dialog.h"
#include "frontends/qt/log_view.h"
#include "frontends/qt/operator_panel.h"
#include "frontends/qt/port_tile.h"
#include "present/font_sizes.h"
#include "present/interface_choice.h"
#include "present/line_mailbox.h"
#include "present/panel.h"
#include "present/tiles.h"

namespace skav::gui {

namespace {

const QString kTitle = QString::fromLatin1(present::kTitle);
// On this platform "*.*" would hide every file without an extension.
const QString kFileFilter = QStringLiteral("All Files (*)");

// The window's own per-user choices (not the station's settings).
const QString kLogPointsKey = QStringLiteral("view/logPoints");
const QString kSoundKey = QStringLiteral("view/sound");
const QString kPanelKey = QStringLiteral("view/operatorPanel");
const QString kPortsKey = QStringLiteral("ports/adapters");

QVariant read_choice(const QString& key, const QVariant& fallback) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("SKAV"),
                     QStringLiteral("skav-gui"));
  return settings.value(key, fallback);
}

void store_choice(const QString& key, const QVariant& value) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("SKAV"),
                     QStringLiteral("skav-gui"));
  settings.setValue(key, value);
}

}  // namespace

// The line's snapshots on their way to the window's thread: a queued call drains the mailbox,
// or the hand-in does at once when it is made on the window's thread.
class MainWindow::LineFeed : public line::LineEvents {
 public:
  explicit LineFeed(MainWindow& window) : window_(window), box_([this] { return wake(); }) {}
  void on_snapshot(std::shared_ptr<const line::LineSnapshot> snapshot) override {
    box_.on_snapshot(std::move(snapshot));
    if (on_window_thread()) window_.show_line();
  }
  std::shared_ptr<const line::LineSnapshot> take() { return box_.take(); }

 private:
  bool on_window_thread() const { return QThread::currentThread() == window_.thread(); }
  bool wake() {
    if (!on_window_thread())
      QMetaObject::invokeMethod(&window_, [this] { window_.show_line(); }, Qt::QueuedConnection);
    return true;
  }
  MainWindow& window_;
  present::LineMailbox box_;
};

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), totals_(std::chrono::steady_clock::now()) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowIcon(app_icon());
  auto* central = new QWidget(this);
  panel_ = new OperatorPanel(central);
  logs_ = new QStackedWidget(central);
  logs_->setObjectName(QStringLiteral("logs"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  layout->addWidget(panel_);
  layout->addWidget(logs_, 1);
  setCentralWidget(central);
  tone_ = new AlarmTone(this);
  alarm_ = [this] { tone_->play(); };
  confirm_ = [this](const QString& question) {
    return QMessageBox::question(this, kTitle, question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };

  line_feed_ = std::make_unique<LineFeed>(*this);
  create_menus();
  create_status_bar();
  add_port();
  show_caption();
  resize(1024, 720);
  log_view()->setFocus();
  set_panel_shown(read_choice(kPanelKey, true).toBool());

  update_totals();
  // Boards per hour move on while no board finishes.
  auto* refresh = new QTimer(this);
  connect(refresh, &QTimer::timeout, this, &MainWindow::update_totals);
  refresh->start(std::chrono::seconds(30));
  connect(panel_->totals()->reset_button(), &QPushButton::clicked, this, &MainWindow::ask_reset_shift_totals);
}

MainWindow::~MainWindow() = default;

void MainWindow::add_port() {
  const int index = port_count();
  auto port = std::make_unique<Port>();
  port->view = new LogView(logs_);
  port->view->setObjectName(index == 0 ? QStringLiteral("logView") : QStringLiteral("logView%1").arg(index));
  port->view->set_key_handler([this, index](char c) {
    if (input_ != nullptr) input_->post(static_cast<std::size_t>(index), line::Key{c});
  });
  port->view->set_point_size(
      index > 0 ? log_points()
                : present::zoomed_log_points(read_choice(kLogPointsKey, present::kLogPoints).toInt(), 0));
  logs_->addWidget(port->view);
  port->log = new LogBridge(*port->view, this);
  port->events = new EventBridge(this);
  EventBridge* events = port->events;
  ports_.push_back(std::move(port));

  // Until the first tick sets the Status Pane text, the pane shows the idle "Ready".
  connect(events, &EventBridge::status_text_changed, this, [this, index] {
    if (index == selected_) show_status_text(selected().events->latest());
  });
  connect(events, &EventBridge::progress_changed, this, [this, index](const QString& label, int percent) {
    Port& moving = *ports_[static_cast<std::size_t>(index)];
    moving.progress_active = true;
    moving.progress_format = label;
    moving.progress_percent = percent;
    if (index != selected_) return;
    progress_->setFormat(moving.progress_format);
    progress_->setValue(percent);
    show_progress(true);
  });
  connect(events, &EventBridge::progress_ended, this, [this, index] {
    ports_[static_cast<std::size_t>(index)]->progress_active = false;
    if (index == selected_) show_progress(false);
  });
  // The Interface dialog reopens the first port's adapter, which a run holds while it lasts.
  if (index == 0)
    connect(events, &EventBridge::run_active_changed, this,
            [this](bool active) { interface_action_->setEnabled(!active); });
  connect(events, &EventBridge::board_finished, this, [this, index](const station::BoardRecord& record) {
    count_board(record);
    ++boards_finished_;
    Q_EMIT board_finished(boards_finished_);
  });
}

void MainWindow::set_port_count(int count) {
  if (count <= port_count()) return;
  while (port_count() < count) add_port();
  panel_->make_tiles(count);
  for (int i = 0; i < count; ++i) {
    PortTile* tile = panel_->tile(i);
    tile->set_selected(i == selected_);
    connect(tile, &PortTile::clicked, this, [this, i] { select_port(i); });
  }
  set_panel_shown(panel_action_->isChecked());
  panel_->fit_to(height(), width());
  update_totals();
}

PortTile* MainWindow::port_tile(int port) const {
  if (panel_->tile_count() == 0 || port < 0 || port >= panel_->tile_count()) return nullptr;
  return panel_->tile(port);
}

Log& MainWindow::log(int port) { return *ports_[static_cast<std::size_t>(port)]->log; }

station::StationEvents& MainWindow::events(int port) {
  return *ports_[static_cast<std::size_t>(port)]->events;
}

LogView* MainWindow::log_view() const { return selected().view; }

LogView* MainWindow::log_view(int port) const { return ports_[static_cast<std::size_t>(port)]->view; }

const QString& MainWindow::file_path() const { return file_path_; }

line::LineEvents& MainWindow::line_events() { return *line_feed_; }

void MainWindow::set_input(line::PortInput* input) {
  input_ = input;
  update_barcode_check();
}

void MainWindow::set_port_name(int port, const QString& name) {
  if (port < 0 || port >= port_count() || name.isEmpty()) return;
  ports_[static_cast<std::size_t>(port)]->name = name.toStdString();
  update_tiles();
}

void MainWindow::select_port(int port) {
  if (port < 0 || port >= port_count()) return;
  selected_ = port;
  Port& shown = selected();
  logs_->setCurrentWidget(shown.view);
  for (int i = 0; i < panel_->tile_count(); ++i) panel_->tile(i)->set_selected(i == port);
  update_tiles();
  show_status_text(shown.events->latest());
  progress_->setFormat(shown.progress_format);
  progress_->setValue(shown.progress_percent);
  show_progress(shown.progress_active);
  update_barcode_check();
  show_caption();
  // Typing goes to the log that has the keyboard: the selected port's.
  shown.view->setFocus();
}

void MainWindow::show_status_text(const std::shared_ptr<const station::StationSnapshot>& snapshot) {
  bool none = snapshot == nullptr || snapshot->status_text.empty();
  message_pane_->setText(none ? QStringLiteral("Ready") : QString::fromStdString(snapshot->status_text));
}

QStringList MainWindow::stored_ports() { return read_choice(kPortsKey, QStringList()).toStringList(); }

void MainWindow::store_ports(const QStringList& adapters) {
  if (adapters.size() < 2) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("SKAV"),
                       QStringLiteral("skav-gui"));
    settings.remove(kPortsKey);
  } else {
    store_choice(kPortsKey, adapters);
  }
}

void MainWindow::create_menus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("E&xit"));
  exit->setObjectName(QStringLiteral("actionExit"));
  exit->setStatusTip(QStringLiteral("Quit the application; prompts to save documents"));
  connect(exit, &QAction::triggered, this, &QWidget::close);

  view_menu_ = menuBar()->addMenu(QStringLiteral("&View"));
  status_bar_action_ = view_menu_->addAction(QStringLiteral("&Status Bar"));
  status_bar_action_->setObjectName(QStringLiteral("actionStatusBar"));
  status_bar_action_->setStatusTip(QStringLiteral("Show or hide the status bar"));
  status_bar_action_->setCheckable(true);
  status_bar_action_->setChecked(true);
  // The status bar always stays: choosing the item changes nothing.
  connect(status_bar_action_, &QAction::triggered, this,
          [this] { status_bar_action_->setChecked(true); });
  interface_action_ = view_menu_->addAction(QStringLiteral("Interface"));
  interface_action_->setObjectName(QStringLiteral("actionInterface"));
  connect(interface_action_, &QAction::triggered, this, &MainWindow::show_interface_dialog);
  barcode_action_ = view_menu_->addAction(QStringLiteral("Barcode"));
  barcode_action_->setObjectName(QStringLiteral("actionBarcode"));
  barcode_action_->setCheckable(true);
  connect(barcode_action_, &QAction::triggered, this, &MainWindow::toggle_barcode);
  connect(view_menu_, &QMenu::aboutToShow, this, &MainWindow::update_barcode_check);

  create_view_commands();

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QStringLiteral("&About SKAV..."));
  about->setObjectName(QStringLiteral("actionAbout"));
  connect(about, &QAction::triggered, this, &MainWindow::show_about);

  // Accelerators without menu items.
  auto accelerator = [this](const char* name, QKeySequence keys, void (MainWindow::*slot)()) {
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
  };
  accelerator("actionNew", QKeySequence(Qt::CTRL | Qt::Key_N), &MainWindow::new_log);
  accelerator("actionOpen", QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::open_log);
  accelerator("actionSave", QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::save_log);
  // Ctrl+1 to Ctrl+9 select a port, as a click on its tile does.
  for (int digit = 1; digit <= present::kSelectKeys; ++digit) {
    auto* action = new QAction(this);
    action->setObjectName(QStringLiteral("actionPort%1").arg(digit));
    action->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + digit)));
    connect(action, &QAction::triggered, this, [this, digit] {
      if (std::optional<int> port = present::port_for_digit(digit, port_count())) select_port(*port);
    });
    addAction(action);
  }
}

void MainWindow::create_view_commands() {
  view_menu_->addSeparator();
  panel_action_ = view_menu_->addAction(QStringLiteral("Operator &Panel"));
  panel_action_->setObjectName(QStringLiteral("actionOperatorPanel"));
  panel_action_->setStatusTip(QStringLiteral("Show or hide the board's state, the steps and the totals"));
  panel_action_->setCheckable(true);
  panel_action_->setShortcut(QKeySequence(Qt::Key_F9));
  connect(panel_action_, &QAction::triggered, this, [this](bool shown) {
    set_panel_shown(shown);
    store_choice(kPanelKey, shown);
  });

  zoom_in_action_ = view_menu_->addAction(QStringLiteral("Zoom &In"));
  zoom_in_action_->setObjectName(QStringLiteral("actionZoomIn"));
  zoom_in_action_->setStatusTip(QStringLiteral("Larger log text"));
  // Ctrl+= as well: on most keyboards "+" needs Shift.
  zoom_in_action_->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  connect(zoom_in_action_, &QAction::triggered, this, [this] { zoom_log(1); });
  zoom_out_action_ = view_menu_->addAction(QStringLiteral("Zoom &Out"));
  zoom_out_action_->setObjectName(QStringLiteral("actionZoomOut"));
  zoom_out_action_->setStatusTip(QStringLiteral("Smaller log text"));
  zoom_out_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
  connect(zoom_out_action_, &QAction::triggered, this, [this] { zoom_log(-1); });

  sound_action_ = view_menu_->addAction(QStringLiteral("&Sound"));
  sound_action_->setObjectName(QStringLiteral("actionSound"));
  sound_action_->setStatusTip(QStringLiteral("A tone when a board fails or times out"));
  sound_action_->setCheckable(true);
  sound_action_->setChecked(read_choice(kSoundKey, true).toBool());
  connect(sound_action_, &QAction::triggered, this, [](bool on) { store_choice(kSoundKey, on); });

  reset_totals_action_ = view_menu_->addAction(QStringLiteral("&Reset Shift Totals"));
  reset_totals_action_->setObjectName(QStringLiteral("actionResetTotals"));
  reset_totals_action_->setStatusTip(QStringLiteral("Start the shift's count again"));
  connect(reset_totals_action_, &QAction::triggered, this, &MainWindow::ask_reset_shift_totals);
}

void MainWindow::set_panel_shown(bool shown) {
  // With several ports the tiles stay, so that the operator can still choose a port.
  if (panel_->tile_count() == 0) {
    panel_->setVisible(shown);
  } else {
    panel_->set_compact(!shown);
  }
  // Folded with one port, the verdict moves into the status bar; tiles keep their own words.
  verdict_pane_->setVisible(!shown && panel_->tile_count() == 0);
  panel_action_->setChecked(shown);
  // The panel's steps show the transfer; folded, the status bar's bar does.
  progress_->setVisible(progress_active_ && !shown);
}

void MainWindow::show_progress(bool active) {
  progress_active_ = active;
  progress_->setVisible(active && !panel_action_->isChecked());
}

int MainWindow::log_points() const { return log_view()->font().pointSize(); }

void MainWindow::zoom_log(int points) {
  int size = present::zoomed_log_points(log_points(), points);
  for (auto& port : ports_) port->view->set_point_size(size);
  store_choice(kLogPointsKey, size);
}

void MainWindow::show_snapshot(int port, const station::StationSnapshot& snapshot) {
  if (present::new_refusal(snapshot, ports_[static_cast<std::size_t>(port)]->refusals)) call_operator();
  if (panel_->tile_count() > 0) return;  // the tiles are shown together, with the totals
  present::Panel panel = present::make_panel(snapshot);
  panel_->show_panel(panel);
  verdict_pane_->show_panel(panel);
}

void MainWindow::show_line() {
  std::shared_ptr<const line::LineSnapshot> next = line_feed_->take();
  if (!next) return;
  std::shared_ptr<const line::LineSnapshot> before = std::exchange(line_, next);
  // The ports whose station published since: the same snapshot is the same object.
  for (std::size_t i = 0; i < next->ports.size() && i < ports_.size(); ++i) {
    const std::shared_ptr<const station::StationSnapshot>& port = next->ports[i];
    const bool seen = before != nullptr && i < before->ports.size() && before->ports[i] == port;
    if (port == nullptr || seen) continue;
    show_snapshot(static_cast<int>(i), *port);
    if (static_cast<int>(i) == selected_) update_barcode_check();
  }
  totals_.show(next->totals, next->port_counts, next->shift_resets, std::chrono::steady_clock::now());
  update_totals();
  // A prompt that opened or closed: the operator's typing goes where an address is asked for,
  // unless the port shown asks too. Only then: between prompts the operator chooses the port.
  const bool prompts_moved =
      before == nullptr || before->typing_port != next->typing_port || before->asking != next->asking;
  if (!prompts_moved || !next->typing_port || panel_->tile_count() == 0) return;
  const auto shown = static_cast<std::size_t>(selected_);
  const bool shown_asks = next->typing_port == shown ||
                          std::find(next->asking.begin(), next->asking.end(), shown) != next->asking.end();
  if (!shown_asks) select_port(static_cast<int>(*next->typing_port));
}

void MainWindow::update_tiles() {
  if (panel_->tile_count() == 0) return;
  std::vector<present::TilePort> ports;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    ports.push_back(present::TilePort{ports_[i]->name, port_snapshot(static_cast<int>(i)), totals_.port(i)});
  }
  // The keyboard's typing goes to the selected port's log.
  const std::vector<present::TileText> tiles =
      present::tile_texts(ports, static_cast<std::size_t>(selected_));
  for (int i = 0; i < panel_->tile_count() && i < static_cast<int>(tiles.size()); ++i)
    panel_->tile(i)->show_tile(tiles[static_cast<std::size_t>(i)]);
}

void MainWindow::count_board(const station::BoardRecord& record) {
  if (present::is_alarm(present::verdict_word(record.overall))) call_operator();
}

void MainWindow::call_operator() {
  if (sound_action_->isChecked() && alarm_) alarm_();
}

bool MainWindow::ask_reset_shift_totals() {
  if (confirm_ && !confirm_(QString::fromLatin1(present::kResetQuestion))) return false;
  reset_shift_totals();
  return true;
}

void MainWindow::reset_shift_totals() {
  if (input_ != nullptr) input_->post(0, line::ResetShift{});
}

void MainWindow::update_totals() {
  update_tiles();
  panel_->totals()->show_totals(totals_.text(std::chrono::steady_clock::now()));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  panel_->fit_to(height(), width());
}

void MainWindow::create_status_bar() {
  QStatusBar* bar = statusBar();
  message_pane_ = new QLabel(QStringLiteral("Ready"), bar);
  message_pane_->setObjectName(QStringLiteral("messagePane"));
  message_pane_->setTextFormat(Qt::PlainText);
  message_pane_->setMinimumWidth(1);
  // A normal (not permanent) widget: menu prompts cover it while an item is highlighted.
  bar->addWidget(message_pane_, 1);

  verdict_pane_ = new VerdictPane(bar);
  verdict_pane_->hide();
  bar->addPermanentWidget(verdict_pane_);

  progress_ = new QProgressBar(bar);
  progress_->setObjectName(QStringLiteral("progressBar"));
  progress_->setRange(0, 100);
  progress_->setTextVisible(true);
  progress_->setFixedWidth(220);
  progress_->hide();
  bar->addPermanentWidget(progress_);

  // The lock-key indicators, dimmed: this platform gives no portable way to read the locks.
  for (const char* text : {"CAP", "NUM", "SCRL"}) {
    auto* indicator = new QLabel(QString::fromLatin1(text), bar);
    indicator->setObjectName(QStringLiteral("indicator") + QString::fromLatin1(text));
    indicator->setAlignment(Qt::AlignCenter);
    indicator->setMinimumWidth(indicator->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 12);
    indicator->setEnabled(false);
    bar->addPermanentWidget(indicator);
  }
}

QString MainWindow::message_text() const {
  QString prompt = statusBar()->currentMessage();
  return prompt.isEmpty() ? message_pane_->text() : prompt;
}

void MainWindow::show_caption() {
  const present::LogFile& file = selected().file;
  file_path_ = QString::fromStdString(file.path());
  setWindowTitle(QString::fromStdString(file.caption()));
}

const station::StationSnapshot* MainWindow::port_snapshot(int port) const {
  const auto index = static_cast<std::size_t>(port);
  return line_ != nullptr && index < line_->ports.size() ? line_->ports[index].get() : nullptr;
}

void MainWindow::update_barcode_check() {
  const station::StationSnapshot* shown = port_snapshot(selected_);
  barcode_action_->setChecked(shown != nullptr && shown->barcode_mode == station::BarcodeMode::kOn);
}

void MainWindow::new_log() {
  // Text the station sent before the command belongs to the old log.
  selected().log->flush();
  log_view()->clear_log();
  selected().file.forget();
  show_caption();
  start_up(selected_);
}

void MainWindow::start_up(int port) {
  if (input_ != nullptr) input_->post(static_cast<std::size_t>(port), line::StartUp{});
  ++start_ups_;
}

void MainWindow::open_at_start(const QString& path) {
  int before = start_ups_;
  if (!path.isEmpty()) open_file(path);
  // A file that could not be opened leaves a new log; the start-up runs all the same.
  if (start_ups_ == before) start_up(selected_);
  for (int i = 0; i < port_count(); ++i)
    if (i != selected_) start_up(i);
}

void MainWindow::open_log() {
  QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(), kFileFilter);
  if (!path.isEmpty()) open_file(path);
}

bool MainWindow::open_file(const QString& path) {
  selected().log->flush();
  present::OpenResult opened = selected().file.open(path.toStdString());
  switch (opened.then) {
    case present::OpenResult::Then::kShow:
      log_view()->set_bytes(opened.bytes);
      show_caption();
      // As after New, the station's start-up runs again.
      start_up(selected_);
      return true;
    case present::OpenResult::Then::kNewLog:
      QMessageBox::warning(this, kTitle, QString::fromStdString(opened.message));
      new_log();
      return false;
    case present::OpenResult::Then::kNothing:
      break;
  }
  QMessageBox::warning(this, kTitle, QString::fromStdString(opened.message));
  return false;
}

void MainWindow::save_log() {
  QString path = file_path();
  if (selected().file.needs_name()) {
    path = QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), QString(), kFileFilter);
    if (path.isEmpty()) return;
  }
  save_to(path);
}

bool MainWindow::save_to(const QString& path) {
  selected().log->flush();
  if (std::optional<std::string> error = selected().file.save(path.toStdString(), log_view()->bytes())) {
    QMessageBox::warning(this, kTitle, QString::fromStdString(*error));
    return false;
  }
  show_caption();
  return true;
}

void MainWindow::show_about() {
  AboutDialog dialog(this);
  dialog.exec();
}

void MainWindow::show_interface_dialog() {
  if (input_ == nullptr) return;
  // The Interface dialog reopens the first port's adapter.
  std::shared_ptr<const station::StationSnapshot> shown = input_->port_snapshot(0);
  if (shown == nullptr) return;
  const bool several = port_count() > 1;
  InterfaceDialog dialog(present::adapter_labels(shown->adapters), shown->selected_index, shown->digits, this);
  if (ports_choice_) {
    std::vector<std::string> stored;
    for (const QString& name : stored_ports()) stored.push_back(name.toStdString());
    dialog.offer_ports(present::ticked_of(shown->adapters, stored), several);
  }
  dialog.set_apply([this, several, &dialog, &shown](int index, const MacDigits::Digits& digits) {
    // The station refuses the change while a run holds the adapter. With several ports
    // running, every port keeps its adapter until the next start: the first reopens its own
    // and stores it as NetIF, with the address.
    std::shared_ptr<const station::StationSnapshot> now = input_->port_snapshot(0);
    std::optional<int> posted = present::interface_apply_index(now ? *now : *shown, index, several);
    if (!posted) return false;
    input_->post(0, line::ApplyInterface{*posted, digits});
    if (ports_choice_) {
      QStringList adapters;
      for (const std::string& name :
           present::ports_to_store(shown->adapters, dialog.several_ports(), dialog.ticked_ports()))
        adapters << QString::fromStdString(name);
      store_ports(adapters);
    }
    return true;
  });
  dialog.exec();
}

void MainWindow::toggle_barcode() {
  if (input_ == nullptr) return;
  // One stored BarCode for all ports: each port's station switches it.
  for (std::size_t port = 0; port < ports_.size(); ++port) input_->post(port, line::ToggleBarcode{});
  // The check mark follows the station's next snapshot; until then it shows the new mode.
  const station::StationSnapshot* shown = port_snapshot(selected_);
  barcode_action_->setChecked(shown == nullptr || shown->barcode_mode == station::BarcodeMode::kOff);
}

}  // namespace skav::gui
