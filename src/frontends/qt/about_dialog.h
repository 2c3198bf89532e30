#pragma once

#include <QDialog>

namespace skav::gui {

// The About box: the application icon, "SKAV Version 1.0", a line about the program, OK.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace skav::gui
