#include "frontends/qt/about_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "frontends/qt/app_icon.h"

namespace skav::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About SKAV"));
  setObjectName(QStringLiteral("aboutDialog"));

  auto* icon = new QLabel(this);
  icon->setPixmap(app_icon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);

  auto* text = new QVBoxLayout;
  text->addWidget(new QLabel(QStringLiteral("SKAV Version 1.0"), this));
  text->addWidget(new QLabel(QStringLiteral("Factory programming station"), this));
  text->addStretch();

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addStretch();

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(icon);
  layout->addSpacing(8);
  layout->addLayout(text, 1);
  layout->addSpacing(16);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace skav::gui
