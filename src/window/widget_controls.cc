#include "window/widget_controls.h"

#include <QMessageBox>
#include <QProgressDialog>

namespace olvesk {
namespace {

// Redraw the progress at most this often: a fast run is not slowed down by
// painting every file.
constexpr int kUpdateEveryMs = 50;

}  // namespace

void MessageBoxes::Show(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kMessageTitle,
                  QString::fromStdString(text), QMessageBox::Ok, parent_);
  box.exec();
}

ProgressDialog::~ProgressDialog() { delete dialog_; }

void ProgressDialog::Begin(int total) {
  total_ = total;
  delete dialog_;
  dialog_ = new QProgressDialog(parent_);
  dialog_->setWindowTitle(kMessageTitle);
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setCancelButton(nullptr);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumDuration(kShowAfterMs);
  dialog_->setRange(0, total);
  dialog_->setLabelText(
      QObject::tr("Converting car files: 0 of %1").arg(total));
  dialog_->setValue(0);
  since_update_.start();
}

void ProgressDialog::Advance(int done) {
  if (!dialog_ || (done < total_ && since_update_.elapsed() < kUpdateEveryMs)) {
    return;
  }
  since_update_.restart();
  dialog_->setLabelText(
      QObject::tr("Converting car files: %1 of %2").arg(done).arg(total_));
  dialog_->setValue(done);
}

void ProgressDialog::End() { delete dialog_; }

bool ProgressDialog::Cancelled() { return dialog_ && dialog_->wasCanceled(); }

}  // namespace olvesk
