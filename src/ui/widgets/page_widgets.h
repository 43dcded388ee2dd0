// Small builders for the settings pages: a control at a fixed position in its parent, sized to
// its text, as the pages are laid out in pixels. The parent owns what is made.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QWidget>

inline QLabel* Add_Label(QWidget* parent, const char* text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

// An edit 21 pixels high that takes at most `max_length` characters.
inline QLineEdit* Add_Edit(QWidget* parent, int left, int top, int width, int max_length) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(left, top, width, 21);
  edit->setMaxLength(max_length);
  return edit;
}

template <typename Button>
Button* Add_Button(QWidget* parent, const char* caption, int left, int top) {
  auto* button = new Button(caption, parent);
  button->move(left, top);
  button->adjustSize();
  return button;
}
