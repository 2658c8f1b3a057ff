#ifndef OLVESK_WINDOW_INPUT_LOCK_H_
#define OLVESK_WINDOW_INPUT_LOCK_H_

#include <QObject>

class QWidget;

namespace olvesk {

// While it lives, the user's input to |window| and every control in it is
// dropped: mouse, keys, wheel, shortcuts, context menus, drag and drop. Other
// windows, such as the dialogs and message boxes of a run, take input as
// usual. Unlike disabling the window, it leaves the look of the controls and
// the keyboard focus as they are.
class InputLock : public QObject {
  Q_OBJECT

 public:
  explicit InputLock(QWidget* window);
  ~InputLock() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool isInWindow(QObject* object) const;

  QWidget* window_;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_INPUT_LOCK_H_
