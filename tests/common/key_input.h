// Keyboard and pop-up list input as a user gives it: key press and release events delivered to
// a widget, so that everything Qt hangs on typing (completers, edit signals, shortcuts) runs.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QString>
#include <QWidget>

namespace qv::test {

inline void PressKey(QWidget* target, int key, const QString& text = QString(),
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(target, &release);
}

// Makes the widget's window the active one and gives the widget the keyboard focus, as a click
// into it does; returns the widget that has the focus now (a combo box hands it to its edit).
inline QWidget* FocusForTyping(QWidget* widget) {
  QWidget* window = widget->window();
  window->show();
  QApplication::setActiveWindow(window);
  window->activateWindow();
  widget->setFocus(Qt::MouseFocusReason);
  QApplication::processEvents();
  return QApplication::focusWidget();
}

// Types text one character at a time, as keys (Latin-1 letters, digits and signs).
inline void TypeKeys(QWidget* target, const QString& text) {
  for (const QChar c : text) {
    const int key = c.toUpper().unicode();  // Qt's key codes of printable Latin-1 characters
    const Qt::KeyboardModifiers modifiers = c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier;
    PressKey(target, key, QString(c), modifiers);
  }
}

// Opens the combo box's list, moves to row and presses Return there: a real choice.
inline void ChooseFromList(QComboBox& combo, int row) {
  combo.showPopup();
  QAbstractItemView* view = combo.view();
  view->setCurrentIndex(combo.model()->index(row, 0));
  PressKey(view, Qt::Key_Return);
  QApplication::processEvents();
}

// Opens the combo box's list, moves to row and leaves with Escape: no choice.
inline void EscapeFromList(QComboBox& combo, int row) {
  combo.showPopup();
  QAbstractItemView* view = combo.view();
  view->setCurrentIndex(combo.model()->index(row, 0));
  PressKey(view, Qt::Key_Escape);
  QApplication::processEvents();
}

// Opens the combo box's list, moves to row and clicks beside the list: no choice.
inline void ClickBesideList(QComboBox& combo, int row) {
  combo.showPopup();
  QAbstractItemView* view = combo.view();
  view->setCurrentIndex(combo.model()->index(row, 0));
  QWidget* popup = view->window();
  const QPointF outside(-20, -20);
  QMouseEvent press(QEvent::MouseButtonPress, outside, popup->mapToGlobal(outside), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(popup, &press);
  QApplication::processEvents();
}

}  // namespace qv::test
