#include "window/main_window.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <utility>

#include "window/directory_list_box.h"
#include "window/file_list_box.h"
#include "window/folder_listing.h"
#include "window/input_lock.h"

namespace olvesk {
namespace {

// The layout is drawn in twips; one device-independent pixel is 15 twips,
// and Qt scales pixels to the screen.
constexpr double kTwipsPerPixel = 15.0;

int Pixels(int twips) { return qRound(twips / kTwipsPerPixel); }

// The window's client area, in twips.
constexpr int kClientWidth = 6528;
constexpr int kClientHeight = 7872;

QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

// Below this the captions would be too small to read.
constexpr double kSmallestPointSize = 6.0;

bool CaptionFits(const QLabel* label, const QFont& font) {
  const int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
  const QRect area(QPoint(0, 0), label->size());
  return QFontMetrics(font).boundingRect(area, flags, label->text()).height() <=
         area.height();
}

// Where the desktop's font is larger than the layout was drawn for, shrinks
// the font of |labels|, all alike, until every caption wrapped fits.
void FitCaptions(const QList<QLabel*>& labels) {
  if (labels.isEmpty()) return;
  QFont font = labels.first()->font();
  auto all_fit = [&] {
    for (const QLabel* label : labels) {
      if (!CaptionFits(label, font)) return false;
    }
    return true;
  };
  while (font.pointSizeF() > kSmallestPointSize && !all_fit()) {
    font.setPointSizeF(font.pointSizeF() - 0.25);
  }
  for (QLabel* label : labels) label->setFont(font);
}

// The one local folder that |mime| carries, on the drive |list| stays on,
// or an empty string.
QString DroppedFolder(const QMimeData* mime, const DirectoryListBox& list) {
  if (!mime->hasUrls() || mime->urls().size() != 1) return {};
  const QString path = mime->urls().first().toLocalFile();
  return IsFolder(path) && list.onItsDrive(path) ? path : QString();
}

QFont HeadingFont() {
  QFont font("MS Sans Serif");
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(7.8);
  font.setWeight(QFont::Bold);
  return font;
}

}  // namespace

MainWindow::MainWindow(FileSystem& fs, const QString& start_folder,
                       QWidget* parent)
    : QWidget(parent), fs_(fs) {
  setWindowTitle("Tavrenn");
  setFixedSize(Pixels(kClientWidth), Pixels(kClientHeight));
  // A window of fixed size offers no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  createInstructions();
  createSeriesOptions();
  createConvertRow();
  createLists(start_folder);
  setTabOrder();
  setAccessibleNames();
  setAcceptDrops(true);
  // The convert button comes first in the tab order; the window opens with
  // the focus on it, not on whichever control was made first.
  command1_->setFocus();
}

MainWindow::~MainWindow() = default;

void MainWindow::createInstructions() {
  struct LabelRow {
    const char* name;
    const char* text;
    QRect geometry;
    bool heading;
  };
  const LabelRow rows[] = {
      {"Label1", "Change to:", TwipsRect(5280, 120, 972, 252), true},
      {"Label2",
       "Copy any car files you want to modify into the series folder you "
       "want to convert them into.",
       TwipsRect(120, 360, 4092, 372), false},
      {"Label3", "First:", TwipsRect(120, 120, 972, 252), true},
      {"Label4",
       "If you check \"Modify All\" it will modify all the files listed, "
       "otherwise it will only modify the highlighted file",
       TwipsRect(120, 2160, 4092, 492), false},
      {"Label5", "Then navigate to the proper folder below to modify them.",
       TwipsRect(120, 840, 4092, 252), false},
      {"Label6", "Note:", TwipsRect(120, 1200, 972, 252), true},
      {"Label7",
       "If you convert car files between series that use differing car "
       "shapes, the converted car files will not work properly.",
       TwipsRect(120, 1440, 4092, 372), false},
  };
  QList<QLabel*> instructions;
  for (const LabelRow& row : rows) {
    auto* label = new QLabel(tr(row.text), this);
    label->setObjectName(row.name);
    label->setGeometry(row.geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (row.heading) {
      label->setFont(HeadingFont());
    } else {
      instructions.append(label);
    }
  }
  FitCaptions(instructions);
}

void MainWindow::createSeriesOptions() {
  frame1_ = new QFrame(this);
  frame1_->setObjectName("Frame1");
  frame1_->setFrameStyle(QFrame::Box | QFrame::Plain);
  frame1_->setGeometry(TwipsRect(5160, 360, 1212, 1332));

  constexpr int kOptionTops[] = {600, 840, 1080, 1320};
  constexpr int kOptionMargin = (240 - 192) / 2;
  for (int row = 0; row < 4; ++row) {
    const SeriesInfo& series = kSeriesTable[row];
    auto* option = new SeriesOptionButton(
        QString::fromUtf8(series.code.data(), series.code.size()), this);
    option->setObjectName(
        QString::fromUtf8(series.option.data(), series.option.size()));
    // Each option takes the whole of its row, centred where the layout
    // puts it: at their drawn height the letters below the line (the
    // "g" of "gns") would be cut off in today's fonts.
    option->setGeometry(TwipsRect(5520, kOptionTops[row] - kOptionMargin, 732,
                                  192 + 2 * kOptionMargin));
    // A click selects its row, also the row already chosen, which re-reads
    // the list; a toggle without a click selects it too, once. During a run
    // neither does: a screen reader's press still clicks an option then,
    // and optionSet() has already put the run's own back.
    connect(option, &QRadioButton::pressed, this,
            [this] { selected_by_toggle_ = -1; });
    connect(option, &QRadioButton::toggled, this, [this, row](bool on) {
      if (on) optionSet(row);
    });
    connect(option, &QRadioButton::clicked, this, [this, row] {
      if (std::exchange(selected_by_toggle_, -1) != row && !converting_) {
        selection_->Select(row);
      }
    });
    options_[row] = option;
  }
}

void MainWindow::optionSet(int row) {
  // The start-up selection sets its option itself, then selects the row.
  if (!selection_ || selection_->TargetSeriesCode().empty()) return;
  const std::string& target = selection_->TargetSeriesCode();
  if (target == kSeriesTable[row].code) return;
  if (converting_) {
    for (std::size_t chosen = 0; chosen < kSeriesTable.size(); ++chosen) {
      if (kSeriesTable[chosen].code == target)
        options_[chosen]->setChecked(true);
    }
    return;
  }
  selection_->Select(row);
  selected_by_toggle_ = row;
}

void MainWindow::createConvertRow() {
  command1_ = new QPushButton(tr("Olvesk"), this);
  command1_->setObjectName("Command1");
  command1_->setGeometry(TwipsRect(360, 2760, 2052, 372));
  // Enter presses it too, as on Windows, not only Space.
  command1_->setAutoDefault(true);
  IgnoreHeldKeys(command1_);
  connect(command1_, &QPushButton::clicked, this, &MainWindow::convert);

  check1_ = new ModifyAllCheckBox(tr("Modify All?"), this);
  check1_->setObjectName("Check1");
  check1_->setGeometry(TwipsRect(2520, 2760, 1572, 372));
  // A screen reader's toggle or press still reaches it during a run, which
  // keeps the mode it was started with; so does the box.
  connect(check1_, &QCheckBox::toggled, this, [this](bool on) {
    if (!converting_) return;
    const QSignalBlocker blocker(check1_);
    check1_->setChecked(!on);
  });
}

void MainWindow::createLists(const QString& start_folder) {
  file1_ = new FileListBox(this);
  file1_->setObjectName("File1");
  // Its drawn height, 4680 twips, would reach past the window's bottom.
  file1_->setGeometry(TwipsRect(3000, 3240, 3492, kClientHeight - 3240));

  // The target starts on "pta"; the file list reads its folder only once the
  // directory list has opened it.
  selection_ = std::make_unique<SeriesSelection>(
      std::array<OptionButton*, 4>{options_[0], options_[1], options_[2],
                                   options_[3]},
      *file1_);
  selection_->SelectAtStartup();
  // Tab enters the options at the chosen one, as Windows has it; Qt then
  // moves that stop to whichever option the user goes to.
  for (SeriesOptionButton* option : options_) {
    option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus
                                               : Qt::ClickFocus);
  }

  dir1_ = new DirectoryListBox(this);
  dir1_->setObjectName("Dir1");
  dir1_->setGeometry(TwipsRect(120, 3240, 2892, 4608));
  connect(dir1_, &DirectoryListBox::pathChanged, this,
          [this] { file1_->setFolder(dir1_->folder()); });
  // A folder renamed away unseen, as by a program in the background, is
  // left for the nearest one above it rather than shown as unreadable.
  connect(dir1_, &DirectoryListBox::entryClicked, this, [this] {
    if (!leaveGoneFolder()) file1_->setFolder(dir1_->folder());
  });
  connect(file1_, &FileListBox::folderWentAway, this,
          &MainWindow::leaveGoneFolder);
  dir1_->setFolder(start_folder);
}

void MainWindow::setTabOrder() {
  QWidget* order[] = {command1_,   check1_,     dir1_,       file1_,
                      options_[0], options_[1], options_[2], options_[3]};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QWidget::setTabOrder(order[i - 1], order[i]);
  }
}

void MainWindow::setAccessibleNames() {
  // A caption is also what the user says to speech input and hears from a
  // screen reader: the name carries it as it is, the description the rest.
  command1_->setAccessibleName(command1_->text());
  command1_->setAccessibleDescription(
      tr("Converts the highlighted car file, or with Modify All checked "
         "every listed car file, to the chosen series"));
  check1_->setAccessibleName(check1_->text());
  dir1_->setAccessibleName(tr("Folders"));
  file1_->setAccessibleName(tr("Car files of the other series"));
  frame1_->setAccessibleName(tr("Change to"));
  for (SeriesOptionButton* option : options_) {
    option->setAccessibleName(tr("Change to %1").arg(option->text()));
  }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!converting_ && !DroppedFolder(event->mimeData(), *dir1_).isEmpty()) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString folder = DroppedFolder(event->mimeData(), *dir1_);
  if (converting_ || folder.isEmpty()) return;
  event->acceptProposedAction();
  dir1_->setFolder(folder);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (converting_) {
    progress_.Cancel();
    close_after_run_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() &&
      !converting_) {
    file1_->recheck();
  }
}

bool MainWindow::leaveGoneFolder() {
  if (!file1_->folderGone()) return false;
  dir1_->setFolder(dir1_->folder());
  return true;
}

void MainWindow::convert() {
  // A run lets waiting events through now and then; this stops a second run
  // from starting inside the first.
  if (converting_) return;
  // The lists may still show a folder that went away before the press.
  const QString folder = dir1_->folder();
  if (leaveGoneFolder()) {
    messages_.Show(
        tr("The folder %1 is no longer there: it was renamed or removed.")
            .arg(ShownPath(folder))
            .toStdString());
    return;
  }
  // A folder that could not be read would look empty to the run.
  if (!file1_->unreadable().isEmpty()) {
    file1_->Refresh();
    if (!file1_->unreadable().isEmpty()) {
      messages_.Show(tr("The folder %1 cannot be read: %2.")
                         .arg(ShownPath(folder), file1_->unreadable())
                         .toStdString());
      return;
    }
  }
  converting_ = true;
  {
    // From the press to the run's last message the window takes no input;
    // the run's own dialogs do. The button stays enabled, so that the focus
    // stays on it.
    InputLock lock(this);
    file1_->pauseFollowing();
    ConvertCommand command(fs_, *dir1_, *file1_, *check1_, messages_,
                           progress_);
    command.Run(selection_->TargetSeriesCode(),
                selection_->TargetSeriesDigit());
    file1_->resumeFollowing();
  }
  converting_ = false;
  leaveGoneFolder();
  command1_->setFocus();
  if (close_after_run_) close();
}

}  // namespace olvesk
