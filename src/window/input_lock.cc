#include "window/input_lock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace olvesk {
namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::Gesture:
    case QEvent::NativeGesture:
      return true;
    default:
      return false;
  }
}

}  // namespace

InputLock::InputLock(QWidget* window) : window_(window) {
  QCoreApplication::instance()->installEventFilter(this);
}

InputLock::~InputLock() {
  QCoreApplication::instance()->removeEventFilter(this);
}

bool InputLock::eventFilter(QObject* watched, QEvent* event) {
  return IsUserInput(event->type()) && isInWindow(watched);
}

bool InputLock::isInWindow(QObject* object) const {
  // The window as the system sees it, before Qt hands the event on to one of
  // its controls.
  if (object->isWindowType()) return object == window_->windowHandle();
  // A control, or what belongs to one, such as its shortcuts.
  while (object != nullptr && !object->isWidgetType()) {
    object = object->parent();
  }
  return object != nullptr &&
         static_cast<QWidget*>(object)->window() == window_;
}

}  // namespace olvesk
