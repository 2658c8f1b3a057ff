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

// Modal message boxes over |parent|: one OK button, no icon.
class MessageBoxes : public MessageBox {
 public:
  explicit MessageBoxes(QWidget* parent) : parent_(parent) {}
  void Show(const std::string& text) override;

 private:
  QWidget* parent_;
};

// A modal progress dialog over |parent| that appears only when a run takes
// long enough to notice, and closes itself when the run ends.
class ProgressDialog : public ProgressReport {
 public:
  explicit ProgressDialog(QWidget* parent) : parent_(parent) {}
  ~ProgressDialog() override;

  void Begin(int total) override;
  void Advance(int done) override;
  void End() override;
  bool Cancelled() override;

  // How long a run goes before the dialog shows.
  static constexpr int kShowAfterMs = 500;

 private:
  QWidget* parent_;
  QPointer<QProgressDialog> dialog_;
  QElapsedTimer since_update_;
  int total_ = 0;
};

}  // namespace olvesk

#endif  // OLVESK_WINDOW_WIDGET_CONTROLS_H_
