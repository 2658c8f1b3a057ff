#ifndef OLVESK_WINDOW_WIDGET_CONTROLS_H_
#define OLVESK_WINDOW_WIDGET_CONTROLS_H_

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QRadioButton>

#include "series/controls.h"

class QProgressDialog;
class QWidget;

namespace olvesk {

// The window's title for its messages.
inline constexpr char kMessageTitle[] = "Olvesk";

// The "Modify All?" check box.
class ModifyAllCheckBox : public QCheckBox, public CheckBox {
  Q_OBJECT

 public:
  using QCheckBox::QCheckBox;
  int Value() const override { return isChecked() ? 1 : 0; }
};

// A series option button.
class SeriesOptionButton : public QRadioButton, public OptionButton {
  Q_OBJECT

 public:
  using QRadioButton::QRadioButton;
  bool Value() const override { return isChecked(); }
  void SetValue(bool value) override { setChecked(value); }
};

// Makes |widget| drop the auto-repeat of Enter or Escape held down on it;
// only a fresh press reaches it. A key held a moment too long, such as the
// Enter that pressed the convert button or the progress dialog's Cancel, then
// neither closes the run's message unread nor, once that has closed, presses
// the convert button again.
void IgnoreHeldKeys(QWidget* widget);

// Modal message boxes over |parent|: one OK button, no icon. A key held down
// from before one opened does not close it.
class MessageBoxes : public MessageBox {
 public:
  explicit MessageBoxes(QWidget* parent) : parent_(parent) {}
  void Show(const std::string& text) override;

 private:
  QWidget* parent_;
};

// The progress of a run: a dialog over |parent|, titled "Olvesk", that
// appears only when a run takes long enough to notice and closes itself
// when the run ends. Its Cancel button, Escape and closing it all ask the
// run to stop; it then stays, saying so, until the run has finished the
// files in hand. It is not modal: the window's input is locked during a run
// anyway, and a modal dialog would make the system drop a click on the
// window's own close button, which cancels the run too.
//
// While a run goes on, the window handles the events that are waiting every
// kEventsEveryMs, whenever the run reports a file or asks whether it is
// cancelled; so a run that spends long on one file still shows its dialog
// and still hears its Cancel button.
class ProgressDialog : public ProgressReport {
 public:
  explicit ProgressDialog(QWidget* parent) : parent_(parent) {}
  ~ProgressDialog() override;

  void Begin(int total) override;
  void Advance(int done) override;
  void End() override;
  bool Cancelled() override;

  // Asks the run to stop, as the Cancel button does.
  void Cancel() { cancelled_ = true; }

  // How long a run goes before the dialog shows.
  static constexpr int kShowAfterMs = 500;
  // How often at most the waiting events are handled and the progress
  // redrawn: a fast run is not slowed down by painting every file.
  static constexpr int kEventsEveryMs = 50;

 private:
  // Shows the dialog once the run has gone on for kShowAfterMs, redraws it
  // and handles the waiting events, at most every kEventsEveryMs.
  void keepUp();

  QWidget* parent_;
  QPointer<QProgressDialog> dialog_;
  QElapsedTimer since_begin_;
  QElapsedTimer since_update_;
  int total_ = 0;
  int done_ = 0;
  bool shown_ = false;
  bool cancelled_ = false;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_WIDGET_CONTROLS_H_
