#include "window/widget_controls.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <limits>

namespace olvesk {
namespace {

// Cancel, Escape and the close button only ask the run to stop: the dialog
// stays until the run has ended, saying that it is stopping, so that a run
// that takes a while to finish the files in hand never goes on unseen.
class RunProgressDialog : public QProgressDialog {
 public:
  explicit RunProgressDialog(QWidget* parent) : QProgressDialog(parent) {
    // Made by name in Qt, so undone by name.
    disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
  }
  void reject() override { emit canceled(); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    emit canceled();
  }
};

QString StoppingLabel(int done, int total) {
  return QObject::tr("Stopping after the car files in hand: %1 of %2 done")
      .arg(done)
      .arg(total);
}

// Wider than this, in pixels, a word (a path, mostly) may be broken.
constexpr int kWidestUnbrokenWord = 400;
// Where a long word may be broken; it is never copied.
constexpr QChar kBreak(0x200B);

// |text| with a zero-width space after each backslash of a word wider than
// kWidestUnbrokenWord: a message box wraps at spaces and after a "/", but
// not after a backslash, and so cut off a Windows path wider than the screen
// allows. Short words, and so most messages, are left as they are.
QString Breakable(const QString& text, const QFontMetrics& metrics) {
  QString shown;
  shown.reserve(text.size());
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u' ' && text[i] != u'\n') continue;
    const QString word = text.mid(start, i - start);
    if (metrics.horizontalAdvance(word) > kWidestUnbrokenWord) {
      for (const QChar c : word) {
        shown += c;
        if (c == u'\\') shown += kBreak;
      }
    } else {
      shown += word;
    }
    if (i < text.size()) shown += text[i];
    start = i + 1;
  }
  return shown;
}

// A message box whose text, copied with Ctrl+C as Windows offers, holds
// the paths as they are, without the breaks that let them wrap.
class PathMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    QMessageBox::keyPressEvent(event);
    if (event->matches(QKeySequence::Copy)) {
      QClipboard* clipboard = QGuiApplication::clipboard();
      clipboard->setText(clipboard->text().remove(kBreak));
    }
  }
};

// Drops the auto-repeated presses of the keys that press a button or close
// a box on the objects it watches. Any other key held down still does what
// it does: Tab goes on moving the focus through the window.
class HeldKeyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    return key->isAutoRepeat() &&
           (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            key->key() == Qt::Key_Escape);
  }
};

}  // namespace

void IgnoreHeldKeys(QWidget* widget) {
  widget->installEventFilter(new HeldKeyFilter(widget));
}

void MessageBoxes::Show(const std::string& text) {
  PathMessageBox box(QMessageBox::NoIcon, kMessageTitle, QString(),
                     QMessageBox::Ok, parent_);
  // A path may look like markup ("<b>", "&lt;"); it is shown as it is.
  box.setTextFormat(Qt::PlainText);
  box.setText(Breakable(QString::fromStdString(text), box.fontMetrics()));
  // Enter reaches the OK button, which has the focus; Escape the box.
  IgnoreHeldKeys(&box);
  IgnoreHeldKeys(box.button(QMessageBox::Ok));
  box.exec();
}

ProgressDialog::~ProgressDialog() { delete dialog_; }

void ProgressDialog::Begin(int total) {
  total_ = total;
  done_ = 0;
  shown_ = false;
  cancelled_ = false;
  delete dialog_;
  dialog_ = new RunProgressDialog(parent_);
  dialog_->setWindowTitle(kMessageTitle);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  // keepUp() decides when the dialog shows, not the dialog's own estimate.
  dialog_->setMinimumDuration(std::numeric_limits<int>::max());
  dialog_->setRange(0, total);
  dialog_->setValue(0);
  QObject::connect(dialog_, &QProgressDialog::canceled, dialog_,
                   [this] { cancelled_ = true; });
  since_begin_.start();
  since_update_.start();
}

void ProgressDialog::Advance(int done) {
  done_ = done;
  keepUp();
}

void ProgressDialog::End() {
  delete dialog_;
  shown_ = false;
}

bool ProgressDialog::Cancelled() {
  keepUp();
  return cancelled_;
}

void ProgressDialog::keepUp() {
  if (!dialog_ || since_update_.elapsed() < kEventsEveryMs) return;
  since_update_.restart();
  if (!shown_ && since_begin_.elapsed() >= kShowAfterMs) {
    shown_ = true;
    // Sized for its longest text and placed over the window before it
    // shows: a dialog that grows after the window manager placed it is
    // moved back to wherever Qt last knew it, a corner of the screen.
    dialog_->setLabelText(StoppingLabel(total_, total_));
    dialog_->adjustSize();
    dialog_->move(parent_->geometry().center() - dialog_->rect().center());
    dialog_->show();
  }
  if (shown_) {
    if (cancelled_) {
      dialog_->setLabelText(StoppingLabel(done_, total_));
      if (auto* button = dialog_->findChild<QPushButton*>()) {
        button->setEnabled(false);
      }
    } else {
      dialog_->setLabelText(
          QObject::tr("Converting car files: %1 of %2").arg(done_).arg(total_));
    }
    dialog_->setValue(done_);
  }
  QCoreApplication::processEvents();
}

}  // namespace olvesk
