#include "window/widget_controls.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <limits>

namespace olvesk {

void MessageBoxes::Show(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kMessageTitle,
                  QString::fromStdString(text), QMessageBox::Ok, parent_);
  box.exec();
}

ProgressDialog::~ProgressDialog() { delete dialog_; }

void ProgressDialog::Begin(int total) {
  total_ = total;
  done_ = 0;
  shown_ = false;
  cancelled_ = false;
  delete dialog_;
  dialog_ = new QProgressDialog(parent_);
  dialog_->setWindowTitle(kMessageTitle);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  // keepUp() decides when the dialog shows, not the dialog's own estimate.
  dialog_->setMinimumDuration(std::numeric_limits<int>::max());
  dialog_->setRange(0, total);
  dialog_->setValue(0);
  // The Cancel button, Escape and closing the dialog emit canceled(), which
  // also hides the dialog. Escape may reach it as a plain rejection too,
  // which hides it but would not mark it cancelled on its own.
  QObject::connect(dialog_, &QProgressDialog::canceled, dialog_,
                   [this] { cancelled_ = true; });
  QObject::connect(dialog_, &QDialog::rejected, dialog_, [this] {
    cancelled_ = true;
    dialog_->cancel();
  });
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
  if (!shown_ && !cancelled_ && since_begin_.elapsed() >= kShowAfterMs) {
    shown_ = true;
    dialog_->show();
  }
  if (shown_ && !cancelled_) {
    dialog_->setLabelText(
        QObject::tr("Converting car files: %1 of %2").arg(done_).arg(total_));
    dialog_->setValue(done_);
  }
  QCoreApplication::processEvents();
}

}  // namespace olvesk
