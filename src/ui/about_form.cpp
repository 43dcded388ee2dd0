#include "ui/about_form.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/startup.h"

QString TForm_About::About_Text() {
  return QString(APP_TITLE) + " " + APP_VERSION + " (64-bit)";
}

TForm_About::TForm_About(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle("About");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  Label_Version = new QLabel(About_Text(), this);
  Label_Version->setAlignment(Qt::AlignCenter);
  layout->addWidget(Label_Version);
  auto* ok = new QPushButton("OK", this);
  layout->addWidget(ok, 0, Qt::AlignCenter);
  connect(ok, &QPushButton::clicked, this, &QDialog::close);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
