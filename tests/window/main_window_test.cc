#include "window/main_window.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include "series/real_file_system.h"
#include "support/temp_dir.h"
#include "window/directory_list_box.h"
#include "window/file_list_box.h"
#include "window/termination_signals.h"
#include "window/widget_controls.h"

using olvesk::MainWindow;

namespace {

// Makes |window| the active window at once, or leaves every window when it
// is null, as the user going to another program does. Qt 6.5 deprecated
// this for QWidget::activateWindow(), which waits on the platform and has
// no way to leave every window.
void SetActiveWindow(QWidget* window) {
  QT_WARNING_PUSH
  QT_WARNING_DISABLE_DEPRECATED
  QApplication::setActiveWindow(window);
  QT_WARNING_POP
}

// One message box as the user saw it.
struct Shown {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  int buttons;
};

// Answers every modal message box that opens while it lives, recording it.
class MessageCatcher {
 public:
  MessageCatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (on_box) on_box();
      // Less the zero-width spaces that let a long path wrap.
      shown_.append({box->windowTitle(), box->text().remove(QChar(0x200B)),
                     box->icon(), static_cast<int>(box->buttons().size())});
      box->button(QMessageBox::Ok)->click();
    });
    timer_.start(10);
  }
  QStringList texts() const {
    QStringList texts;
    for (const Shown& shown : shown_) texts.append(shown.text);
    return texts;
  }
  QList<Shown> shown_;
  // Called while each box is open, before it is read and closed.
  std::function<void()> on_box;

 private:
  QTimer timer_;
};

// Slows every rename down so that a run lasts long enough to notice, and
// looks at the window while the run goes on.
class SlowFileSystem : public olvesk::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  olvesk::Status Rename(olvesk::OpenFile* file,
                        const std::string& to) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (on_rename) on_rename();
    return FileSystemWrapper::Rename(file, to);
  }
  std::function<void()> on_rename;
};

// Lets a test act from inside a run: |on_open| is called with the number of
// each Open(), 1 for the first, before the file is opened.
class OpenHook : public olvesk::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  olvesk::Status Open(const std::string& path,
                      olvesk::OpenFile* file) override {
    if (on_open) on_open(++opens);
    return FileSystemWrapper::Open(path, file);
  }
  std::function<void(int)> on_open;
  int opens = 0;
};

// Queues a left click in the middle of |widget|, for the next pass of the
// event loop.
void PostClick(QWidget* widget) {
  const QPointF at = QRectF(widget->rect()).center();
  const QPointF global = widget->mapToGlobal(at);
  QCoreApplication::postEvent(
      widget, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(
      widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                              Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

void Write(const QString& path, const QByteArray& contents) {
  olvesk::WriteFile(path.toStdString(), contents.toStdString());
}

QString Read(const QString& path) {
  return QString::fromStdString(olvesk::ReadFile(path.toStdString()));
}

// The path of the |i|th file of a long run, in series |code|.
QString RunFile(const QString& folder, int i, const char* code) {
  return folder + QString("/run%1.%2.car").arg(i, 2, 10, QChar('0')).arg(code);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void startsOnPtaListingTheOtherSeriesOfTheWorkingFolder();
  void clickingAnOptionRefiltersAtOnce();
  void openingAFolderMovesTheFileList();
  void aSingleClickLeavesTheFileListWhereItIs();
  void convertButtonRunsTheCommandAndShowsItsMessages();
  void convertButtonWithNothingHighlightedSaysSo();
  void aRunNamesTheFilesItPassedOverBeforeItIsDone();
  void longRunShowsProgressAndCannotBeStartedTwice();
  void controlsMatchTheLayoutTable_data();
  void controlsMatchTheLayoutTable();
  void tabOrderRunsFromTheButtonThroughTheOptions();
  void fileListFollowsChangesMadeByOthersInOneReRead();
  void fileListFollowsAFolderThatNeverGoesQuiet();
  void fileListFollowingChangesKeepsTheRowsInSight();
  void aDroppedFolderOpensInTheDirectoryList();
  void everyControlHasAnAccessibleName();
  void convertButtonWorksFromTheKeyboard();
  void aKeyHeldDownNeitherClosesAMessageNorStartsAnotherRun();
  void clicksDuringARunChangeNothing();
  void everyWayOutOfTheProgressDialogCancels();
  void aCancelledRunLeavesEveryFileWhole_data();
  void aCancelledRunLeavesEveryFileWhole();
  void aSignalIgnoredAtStartLeavesTheWindowOpen();
  void focusIsOnTheConvertButtonAtStartAndAfterARun();
  void namesThatAreNotUtf8ConvertUnderTheirRealNames();
  void aFolderGoneBeforeThePressIsNamedAndLeft();
  void aMessageShowsEveryLineWhole_data();
  void aMessageShowsEveryLineWhole();

 private:
  QWidget* control(const char* name) const {
    return window_->findChild<QWidget*>(name);
  }
  QTreeWidgetItem* dirItem(const QString& name) const {
    const auto items = window_->directoryList()->findItems(
        name, Qt::MatchExactly | Qt::MatchRecursive);
    return items.isEmpty() ? nullptr : items.first();
  }
  void clickDirItem(QTreeWidgetItem* item, bool twice);
  std::unique_ptr<MainWindow> windowForARun(olvesk::FileSystem& fs, int files);

  std::unique_ptr<olvesk::TempDir> root_;
  QString folder_;
  QString previous_cwd_;
  olvesk::RealFileSystem fs_;
  std::unique_ptr<MainWindow> window_;
};

void MainWindowTest::init() {
  root_ = std::make_unique<olvesk::TempDir>();
  folder_ = QDir::fromNativeSeparators(
                QString::fromStdString(olvesk::Utf8String(root_->path()))) +
            "/cup/cars";
  QDir().mkpath(folder_ + "/sub");
  for (const char* name : {"a.cup.car", "B.GNS.CAR", "c.cts.car", "d.pta.car",
                           "e.txt", "f.Cup.Car"}) {
    Write(folder_ + "/" + name, "name=x\ncar_class=9\n");
  }
  Write(folder_ + "/sub/s.gns.car", "car_class=2");
  previous_cwd_ = QDir::currentPath();
  QDir::setCurrent(folder_);
  // As the program does: open on the working folder.
  window_ = std::make_unique<MainWindow>(fs_, QDir::currentPath());
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void MainWindowTest::cleanup() {
  window_.reset();
  QDir::setCurrent(previous_cwd_);
  root_.reset();
}

void MainWindowTest::clickDirItem(QTreeWidgetItem* item, bool twice) {
  QTreeWidget* tree = window_->directoryList();
  const QPoint at = tree->visualItemRect(item).center();
  // A double-click reaches the view as a click, then a double-click.
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
  if (twice) QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

void MainWindowTest::startsOnPtaListingTheOtherSeriesOfTheWorkingFolder() {
  QCOMPARE(window_->selection().TargetSeriesCode(), std::string("pta"));
  QCOMPARE(window_->selection().TargetSeriesDigit(), '4');
  for (const char* name : {"Option1", "Option2", "Option3"}) {
    QVERIFY(!qobject_cast<QRadioButton*>(control(name))->isChecked());
  }
  QVERIFY(qobject_cast<QRadioButton*>(control("Option4"))->isChecked());
  QCOMPARE(window_->fileList()->folder(), QDir::currentPath());
  QCOMPARE(window_->directoryList()->folder(), QDir::currentPath());
  QCOMPARE(window_->fileList()->names(),
           QStringList({"a.cup.car", "B.GNS.CAR", "c.cts.car", "f.Cup.Car"}));
}

void MainWindowTest::clickingAnOptionRefiltersAtOnce() {
  QSignalSpy rereads(window_->fileList()->model(),
                     &QAbstractItemModel::modelReset);
  QTest::mouseClick(control("Option1"), Qt::LeftButton);
  QCOMPARE(window_->selection().TargetSeriesCode(), std::string("cup"));
  QVERIFY(!qobject_cast<QRadioButton*>(control("Option4"))->isChecked());
  QCOMPARE(window_->fileList()->names(),
           QStringList({"B.GNS.CAR", "c.cts.car", "d.pta.car"}));
  QCOMPARE(rereads.count(), 1);

  // Screen readers and voice control set an option without a click.
  qobject_cast<QRadioButton*>(control("Option3"))->toggle();
  QCOMPARE(window_->selection().TargetSeriesCode(), std::string("cts"));
  QCOMPARE(window_->selection().TargetSeriesDigit(), '3');
  QCOMPARE(window_->fileList()->names(),
           QStringList({"a.cup.car", "B.GNS.CAR", "d.pta.car", "f.Cup.Car"}));
  QCOMPARE(rereads.count(), 2);
}

void MainWindowTest::openingAFolderMovesTheFileList() {
  clickDirItem(dirItem("sub"), /*twice=*/true);
  QCOMPARE(window_->directoryList()->folder(), folder_ + "/sub");
  QCOMPARE(window_->fileList()->folder(), folder_ + "/sub");
  QCOMPARE(window_->fileList()->names(), QStringList({"s.gns.car"}));

  // Enter on the highlighted entry opens it too.
  QTreeWidget* tree = window_->directoryList();
  tree->setCurrentItem(dirItem("cars"));
  QTest::keyClick(tree, Qt::Key_Return);
  QCOMPARE(window_->fileList()->folder(), folder_);

  // The open folder goes away, as into the recycle bin: opening it leads to
  // the one above it.
  clickDirItem(dirItem("sub"), /*twice=*/true);
  QVERIFY(QDir().rename(folder_ + "/sub", folder_ + "/../gone"));
  QTest::keyClick(tree, Qt::Key_Return);
  QCOMPARE(window_->directoryList()->folder(), folder_);
  QCOMPARE(window_->fileList()->folder(), folder_);
}

void MainWindowTest::aSingleClickLeavesTheFileListWhereItIs() {
  Write(folder_ + "/new.gns.car", "car_class=2");
  clickDirItem(dirItem("sub"), /*twice=*/false);
  QCOMPARE(window_->directoryList()->folder(), folder_);
  QCOMPARE(window_->fileList()->folder(), folder_);
  // The click re-read the same folder.
  QVERIFY(window_->fileList()->names().contains("new.gns.car"));
}

void MainWindowTest::convertButtonRunsTheCommandAndShowsItsMessages() {
  QTest::mouseClick(control("Option2"), Qt::LeftButton);  // target gns
  qobject_cast<QCheckBox*>(control("Check1"))->setChecked(true);
  // a.cup.car, in its own series' folder, would stop the run at once.
  QFile::remove(folder_ + "/a.cup.car");
  window_->fileList()->Refresh();
  MessageCatcher catcher;
  QTest::mouseClick(control("Command1"), Qt::LeftButton);

  QCOMPARE(Read(folder_ + "/c.gns.car"), QString("name=x\ncar_class=2\n"));
  QCOMPARE(Read(folder_ + "/d.gns.car"), QString("name=x\ncar_class=2\n"));
  // f.Cup.Car has the folder's code only in other letters: it converts.
  QCOMPARE(Read(folder_ + "/f.gns.car"), QString("name=x\ncar_class=2\n"));
  QCOMPARE(catcher.texts(), QStringList({"Done Converting Car files"}));
  QCOMPARE(catcher.shown_.first().title, QString("Olvesk"));
  QCOMPARE(catcher.shown_.first().icon, QMessageBox::NoIcon);
  QCOMPARE(catcher.shown_.first().buttons, 1);
  QCOMPARE(window_->fileList()->ListCount(), 0);
}

void MainWindowTest::convertButtonWithNothingHighlightedSaysSo() {
  MessageCatcher catcher;
  QTest::mouseClick(control("Command1"), Qt::LeftButton);
  QCOMPARE(catcher.texts().size(), 1);
  QVERIFY(catcher.texts().first().contains("Modify All?"));
  QCOMPARE(Read(folder_ + "/c.cts.car"), QString("name=x\ncar_class=9\n"));

  window_->fileList()->SetListIndex(2);  // c.cts.car
  QTest::mouseClick(control("Command1"), Qt::LeftButton);
  QCOMPARE(Read(folder_ + "/c.pta.car"), QString("name=x\ncar_class=4\n"));
  QCOMPARE(catcher.texts().last(), QString("Done Converting Car files"));
}

void MainWindowTest::aRunNamesTheFilesItPassedOverBeforeItIsDone() {
  QFile::remove(folder_ + "/a.cup.car");  // it would stop the run at once
  Write(folder_ + "/c.cts.car", "no class entry");
  QDir().mkpath(folder_ + "/f.pta.car");  // in the way of f.Cup.Car
  window_->fileList()->Refresh();
  qobject_cast<QCheckBox*>(control("Check1"))->setChecked(true);
  MessageCatcher catcher;
  QTest::mouseClick(control("Command1"), Qt::LeftButton);

  const QStringList texts = catcher.texts();
  QCOMPARE(texts.size(), 2);
  QVERIFY2(texts[0].contains("c.cts.car: ") && texts[0].contains("f.Cup.Car: "),
           qPrintable(texts[0]));
  QVERIFY2(!texts[0].contains("B.GNS.CAR"), qPrintable(texts[0]));
  QCOMPARE(texts[1], QString("Done Converting Car files"));
  QCOMPARE(Read(folder_ + "/B.pta.car"), QString("name=x\ncar_class=4\n"));
  QCOMPARE(window_->fileList()->names(),
           QStringList({"c.cts.car", "f.Cup.Car"}));
}

void MainWindowTest::longRunShowsProgressAndCannotBeStartedTwice() {
  for (int i = 0; i < 300; ++i) {
    Write(folder_ + QString("/many%1.gns.car").arg(i, 3, 10, QChar('0')),
          "car_class=2");
  }
  QFile::remove(folder_ + "/a.cup.car");  // it would stop the run at once
  SlowFileSystem slow(fs_);
  MainWindow window(slow, folder_);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  qobject_cast<QCheckBox*>(window.findChild<QWidget*>("Check1"))
      ->setChecked(true);
  auto* button = window.findChild<QPushButton*>("Command1");

  QSignalSpy rereads(window.fileList()->model(),
                     &QAbstractItemModel::modelReset);
  bool saw_progress = false;
  int renames = 0;
  slow.on_rename = [&] {
    ++renames;
    const auto* dialog = window.findChild<QProgressDialog*>();
    if (dialog && dialog->isVisible()) {
      saw_progress = true;
    }
    button->click();  // a second press while the run goes on does nothing
  };
  MessageCatcher catcher;
  // Another program adds a file after the run's last re-read.
  catcher.on_box = [&] {
    catcher.on_box = nullptr;
    Write(folder_ + "/late.gns.car", "car_class=2");
    QTest::qWait(2 * olvesk::FileListBox::kSettleMs);
  };
  button->click();

  // The many files, then B.GNS.CAR, c.cts.car and f.Cup.Car, each once.
  QCOMPARE(renames, 300 + 3);
  QVERIFY(saw_progress);
  // The run's own renames are not followed, only its final re-read; the
  // file added while its message was open is listed once it is closed.
  QTest::qWait(2 * olvesk::FileListBox::kSettleMs);
  QCOMPARE(window.fileList()->names(), QStringList({"late.gns.car"}));
  QCOMPARE(rereads.count(), 2);
  QCOMPARE(catcher.texts(), QStringList({"Done Converting Car files"}));
  QVERIFY(window.findChildren<QProgressDialog*>().isEmpty());
  QVERIFY(button->isEnabled());
}

void MainWindowTest::controlsMatchTheLayoutTable_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QRect>("twips");
  const auto row = [](const char* name, const char* caption, int left, int top,
                      int width, int height) {
    QTest::newRow(name) << QString(caption) << QRect(left, top, width, height);
  };
  row("Command1", "Olvesk", 360, 2760, 2052, 372);
  row("Check1", "Modify All?", 2520, 2760, 1572, 372);
  row("Dir1", "", 120, 3240, 2892, 4608);
  row("File1", "", 3000, 3240, 3492, 4680);
  row("Option1", "cup", 5520, 600, 732, 192);
  row("Option2", "gns", 5520, 840, 732, 192);
  row("Option3", "cts", 5520, 1080, 732, 192);
  row("Option4", "pta", 5520, 1320, 732, 192);
  row("Label1", "Change to:", 5280, 120, 972, 252);
  row("Label2",
      "Copy any car files you want to modify into the series folder you want "
      "to convert them into.",
      120, 360, 4092, 372);
  row("Label3", "First:", 120, 120, 972, 252);
  row("Label4",
      "If you check \"Modify All\" it will modify all the files listed, "
      "otherwise it will only modify the highlighted file",
      120, 2160, 4092, 492);
  row("Label5", "Then navigate to the proper folder below to modify them.", 120,
      840, 4092, 252);
  row("Frame1", "", 5160, 360, 1212, 1332);
  row("Label6", "Note:", 120, 1200, 972, 252);
  row("Label7",
      "If you convert car files between series that use differing car "
      "shapes, the converted car files will not work properly.",
      120, 1440, 4092, 372);
}

void MainWindowTest::controlsMatchTheLayoutTable() {
  QFETCH(QString, caption);
  QFETCH(QRect, twips);
  const QWidget* widget = control(QTest::currentDataTag());
  QVERIFY(widget);
  const auto px = [](int value) { return qRound(value / 15.0); };
  // Within the window, which the file list's drawn height overruns.
  const QRect table = QRect(px(twips.left()), px(twips.top()),
                            px(twips.width()), px(twips.height()))
                          .intersected(window_->rect());
  if (qobject_cast<const QRadioButton*>(widget)) {
    // Centred on its drawn place and tall enough for its letters.
    QCOMPARE(widget->x(), table.x());
    QCOMPARE(widget->width(), table.width());
    QVERIFY(qAbs(widget->geometry().center().y() - table.center().y()) <= 1);
    QVERIFY(widget->height() >= widget->fontMetrics().height());
  } else {
    QCOMPARE(widget->geometry(), table);
  }
  if (auto* label = qobject_cast<const QLabel*>(widget)) {
    QCOMPARE(label->text(), caption);
    QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    QVERIFY(label->wordWrap());
    const bool heading = caption.endsWith(':');
    QCOMPARE(label->font().bold(), heading);
    if (heading) QCOMPARE(label->font().pointSizeF(), 7.8);
  } else if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    QCOMPARE(button->text(), caption);
  } else {
    QVERIFY(caption.isEmpty());
  }
  QCOMPARE(window_->windowTitle(), QString("Tavrenn"));
  QCOMPARE(window_->size(), QSize(px(6528), px(7872)));
}

void MainWindowTest::tabOrderRunsFromTheButtonThroughTheOptions() {
  const QStringList controls = {"Command1", "Check1",  "Dir1",    "File1",
                                "Option1",  "Option2", "Option3", "Option4"};
  QStringList order;
  QWidget* widget = control("Command1");
  do {
    if (controls.contains(widget->objectName())) {
      order.append(widget->objectName());
    } else {
      QCOMPARE(widget->focusPolicy() & Qt::TabFocus, 0);  // labels, frame
    }
    widget = widget->nextInFocusChain();
  } while (widget != control("Command1"));
  QCOMPARE(order, controls);

  // Tab enters the options at the chosen one, "pta", and leaves them next.
  SetActiveWindow(window_.get());
  control("File1")->setFocus();
  QTest::keyClick(control("File1"), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), control("Option4"));
  QTest::keyClick(control("Option4"), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), control("Command1"));
  // Once the user picks another series, at that one.
  QTest::mouseClick(control("Option1"), Qt::LeftButton);
  control("File1")->setFocus();
  QTest::keyClick(control("File1"), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), control("Option1"));
}

void MainWindowTest::fileListFollowsChangesMadeByOthersInOneReRead() {
  olvesk::FileListBox* list = window_->fileList();
  list->SetListIndex(2);
  QCOMPARE(list->FileName(), std::string("c.cts.car"));
  QSignalSpy rereads(list->model(), &QAbstractItemModel::modelReset);

  QFile::remove(folder_ + "/a.cup.car");
  for (int i = 0; i < 20; ++i) {
    Write(folder_ + QString("/burst%1.gns.car").arg(i), "car_class=2");
  }
  // qWaitFor() rather than the QTRY_ macros, which in Qt 6.8 narrow a long
  // to an int in the test's own code, where -Wconversion sees it.
  QVERIFY(QTest::qWaitFor(
      [list] { return list->names().contains("burst19.gns.car"); }));
  QTest::qWait(2 * olvesk::FileListBox::kSettleMs);

  QCOMPARE(rereads.count(), 1);
  QVERIFY(!list->names().contains("a.cup.car"));
  QCOMPARE(list->FileName(), std::string("c.cts.car"));
}

void MainWindowTest::fileListFollowsAFolderThatNeverGoesQuiet() {
  olvesk::FileListBox* list = window_->fileList();
  // Another program makes and removes a file of its own, more often than
  // the list waits for quiet, until the test ends.
  const QString busy = folder_ + "/busy.txt";
  QTimer noise;
  QObject::connect(&noise, &QTimer::timeout, [&busy] {
    if (!QFile::remove(busy)) Write(busy, "x");
  });
  noise.start(olvesk::FileListBox::kSettleMs / 4);
  Write(folder_ + "/new.gns.car", "car_class=2");
  QVERIFY(QTest::qWaitFor(
      [list] { return list->names().contains("new.gns.car"); }));
}

void MainWindowTest::fileListFollowingChangesKeepsTheRowsInSight() {
  olvesk::FileListBox* list = window_->fileList();
  for (int i = 0; i < 100; ++i) {
    Write(folder_ + QString("/m%1.gns.car").arg(i, 3, 10, QChar('0')), "");
  }
  list->Refresh();
  list->SetListIndex(0);
  const std::string highlighted = list->FileName();
  list->scrollToBottom();
  const auto top = [list] { return list->indexAt(QPoint(0, 0)).data(); };
  const QVariant in_sight = top();
  QVERIFY(in_sight.isValid());

  // Above both, so that every row moves down one.
  Write(folder_ + "/0.cts.car", "");
  QVERIFY(
      QTest::qWaitFor([list] { return list->names().contains("0.cts.car"); }));
  QCOMPARE(list->FileName(), highlighted);
  QCOMPARE(top(), in_sight);
}

void MainWindowTest::aDroppedFolderOpensInTheDirectoryList() {
  const auto drop = [this](const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at(100, 100);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &dropped);
    return true;
  };
  QVERIFY(!drop(folder_ + "/c.cts.car"));  // a file is not a folder
  QCOMPARE(window_->directoryList()->folder(), folder_);

  QVERIFY(drop(folder_ + "/sub"));
  QCOMPARE(window_->directoryList()->folder(), folder_ + "/sub");
  QCOMPARE(window_->fileList()->names(), QStringList({"s.gns.car"}));
  // The list stays on its drive: another drive's folder is not taken.
  for (const QFileInfo& drive : QDir::drives()) {
    if (!folder_.startsWith(drive.absoluteFilePath(), Qt::CaseInsensitive)) {
      QVERIFY2(!drop(drive.absoluteFilePath()),
               qPrintable(drive.absoluteFilePath()));
    }
  }
  QCOMPARE(window_->directoryList()->folder(), folder_ + "/sub");
}

void MainWindowTest::everyControlHasAnAccessibleName() {
  for (const char* name : {"Command1", "Check1", "Dir1", "File1", "Frame1",
                           "Option1", "Option2", "Option3", "Option4"}) {
    QVERIFY2(!control(name)->accessibleName().isEmpty(), name);
  }
  // A captioned control's name holds its caption word for word, so that
  // what a screen reader says, and what speech input answers to, is what
  // the window shows.
  const std::pair<const char*, const char*> captions[] = {
      {"Command1", "Olvesk"}, {"Check1", "Modify All?"}, {"Option1", "cup"},
      {"Option2", "gns"},     {"Option3", "cts"},        {"Option4", "pta"}};
  for (const auto& [name, caption] : captions) {
    QVERIFY2(control(name)->accessibleName().contains(caption), name);
  }
}

void MainWindowTest::convertButtonWorksFromTheKeyboard() {
  SetActiveWindow(window_.get());
  // Tabbed into, the file list highlights its first file at the first arrow.
  control("Dir1")->setFocus();
  QTest::keyClick(control("Dir1"), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), control("File1"));
  QTest::keyClick(control("File1"), Qt::Key_Down);
  QCOMPARE(window_->fileList()->FileName(), std::string("a.cup.car"));

  control("Option4")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), control("Command1"));

  // Space, and Enter as on Windows.
  MessageCatcher catcher;
  for (const auto& [key, name] : {std::pair{Qt::Key_Space, "B.GNS.CAR"},
                                  std::pair{Qt::Key_Return, "c.cts.car"}}) {
    window_->fileList()->SetListIndex(
        static_cast<int>(window_->fileList()->names().indexOf(name)));
    QTest::keyClick(control("Command1"), key);
  }
  QCOMPARE(catcher.texts(), QStringList({"Done Converting Car files",
                                         "Done Converting Car files"}));
  QCOMPARE(Read(folder_ + "/B.pta.car"), QString("name=x\ncar_class=4\n"));
  QCOMPARE(Read(folder_ + "/c.pta.car"), QString("name=x\ncar_class=4\n"));
}

void MainWindowTest::aKeyHeldDownNeitherClosesAMessageNorStartsAnotherRun() {
  // The press that follows the first, for as long as the key stays down.
  const auto hold = [](QWidget* widget, Qt::Key key) {
    QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(widget, &repeat);
  };
  SetActiveWindow(window_.get());
  auto* button = qobject_cast<QPushButton*>(control("Command1"));
  window_->fileList()->SetListIndex(1);
  MessageCatcher catcher;
  bool message_stayed = false;
  catcher.on_box = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    hold(box->button(QMessageBox::Ok), Qt::Key_Return);
    hold(box, Qt::Key_Escape);
    QTest::qWait(50);
    message_stayed = QApplication::activeModalWidget() == box;
  };
  QTest::keyClick(button, Qt::Key_Return);
  // The Enter that closed the message, still down, reaches the button.
  hold(button, Qt::Key_Return);
  hold(button, Qt::Key_Enter);
  QTest::qWait(50);

  QVERIFY(message_stayed);
  QCOMPARE(catcher.texts(), QStringList({"Done Converting Car files"}));
  QCOMPARE(Read(folder_ + "/B.pta.car"), QString("name=x\ncar_class=4\n"));
  // Tab held down goes on through the window.
  SetActiveWindow(window_.get());
  QCOMPARE(window_->focusWidget(), button);
  hold(button, Qt::Key_Tab);
  QCOMPARE(window_->focusWidget(), control("Check1"));
}

// A window over |fs| on the test folder with |files| more car files to
// convert, and "Modify All?" checked.
std::unique_ptr<MainWindow> MainWindowTest::windowForARun(
    olvesk::FileSystem& fs, int files) {
  QFile::remove(folder_ + "/a.cup.car");  // it would stop the run at once
  for (int i = 0; i < files; ++i)
    Write(RunFile(folder_, i, "gns"), "car_class=2\n");
  auto window = std::make_unique<MainWindow>(fs, folder_);
  window->show();
  window->findChild<QCheckBox*>("Check1")->setChecked(true);
  return window;
}

void MainWindowTest::clicksDuringARunChangeNothing() {
  OpenHook hook(fs_);
  const auto window = windowForARun(hook, 20);
  auto* check1 = window->findChild<QCheckBox*>("Check1");
  auto* cup = window->findChild<QRadioButton*>("Option1");
  auto* gns = window->findChild<QRadioButton*>("Option2");
  auto* cts = window->findChild<QRadioButton*>("Option3");
  bool queued_clicks_handled = false;
  bool handled_during_run = false;
  hook.on_open = [&](int opens) {
    if (opens == 3) {
      // Delivered at once, from inside the run, or set by an assistive tool.
      QTest::mouseClick(cup, Qt::LeftButton);
      gns->toggle();
      QTest::mouseClick(check1, Qt::LeftButton);
      // A screen reader's press action clicks it a moment later.
      QAccessible::queryAccessibleInterface(cts)->actionInterface()->doAction(
          QAccessibleActionInterface::pressAction());
      // Its toggle action on the check box sets it at once.
      QAccessible::queryAccessibleInterface(check1)
          ->actionInterface()
          ->doAction(QAccessibleActionInterface::toggleAction());
      // Queued, for the run's own handling of waiting events.
      PostClick(gns);
      PostClick(check1);
      QMetaObject::invokeMethod(
          window.get(), [&] { queued_clicks_handled = true; },
          Qt::QueuedConnection);
      QTest::qSleep(3 * olvesk::ProgressDialog::kEventsEveryMs);
    }
    if (opens == 6) handled_during_run = queued_clicks_handled;
  };
  MessageCatcher catcher;
  window->findChild<QPushButton*>("Command1")->click();

  QVERIFY(handled_during_run);
  // Every file went to pta, name and digit, as when the button was pressed.
  for (int i = 0; i < 20; ++i) {
    QCOMPARE(Read(RunFile(folder_, i, "pta")), QString("car_class=4\n"));
  }
  for (const char* name : {"B.pta.car", "c.pta.car", "f.pta.car"}) {
    QCOMPARE(Read(folder_ + "/" + name), QString("name=x\ncar_class=4\n"));
  }
  QCOMPARE(catcher.texts(), QStringList({"Done Converting Car files"}));
  QCOMPARE(window->selection().TargetSeriesCode(), std::string("pta"));
  QVERIFY(window->findChild<QRadioButton*>("Option4")->isChecked());
  QVERIFY(!cup->isChecked() && !gns->isChecked() && !cts->isChecked() &&
          check1->isChecked());
}

void MainWindowTest::everyWayOutOfTheProgressDialogCancels() {
  const std::function<void(QProgressDialog*)> ways_out[] = {
      [](QProgressDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); },
      [](QProgressDialog* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
      },
      [](QProgressDialog* dialog) { dialog->close(); },
  };
  olvesk::ProgressDialog progress(window_.get());
  for (const auto& way_out : ways_out) {
    // One long file: the run only asks whether it is cancelled.
    progress.Begin(1);
    auto* dialog = window_->findChild<QProgressDialog*>();
    QTest::qSleep(olvesk::ProgressDialog::kShowAfterMs);
    QVERIFY(!progress.Cancelled());
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("Olvesk"));

    way_out(dialog);
    QVERIFY(progress.Cancelled());
    // It stays until the run has ended, saying that the run is stopping.
    QTest::qSleep(olvesk::ProgressDialog::kEventsEveryMs);
    QVERIFY(progress.Cancelled());
    QVERIFY(dialog->isVisible());
    QVERIFY2(dialog->labelText().startsWith("Stopping"),
             qPrintable(dialog->labelText()));
    progress.End();
    QVERIFY(progress.Cancelled());
  }
  progress.Begin(1);
  QVERIFY(!progress.Cancelled());
}

void MainWindowTest::aCancelledRunLeavesEveryFileWhole_data() {
  QTest::addColumn<int>("way");
  QTest::newRow("Escape in the dialog") << 0;
  QTest::newRow("Cancel button") << 1;
  QTest::newRow("closing the window") << 2;
#if !defined(Q_OS_WIN)
  QTest::newRow("SIGTERM") << 3;
#endif
}

void MainWindowTest::aCancelledRunLeavesEveryFileWhole() {
  QFETCH(int, way);
  constexpr int kFiles = 60;
  OpenHook hook(fs_);
  const auto window = windowForARun(hook, kFiles);
  if (way == 3) olvesk::CloseOnTerminationSignals(window.get());
  auto* cup = window->findChild<QRadioButton*>("Option1");
  bool cancelled = false;
  bool open_during_run = false;
  hook.on_open = [&](int) {
    QTest::qSleep(20);  // so that the dialog shows well before the end
    auto* dialog = window->findChild<QProgressDialog*>();
    if (cancelled) return;
    if (way == 2 && dialog && dialog->isVisible()) {
      // A modal dialog would make the system drop the close request of the
      // window's close button, as Qt does for any window it blocks.
      QCOMPARE(QApplication::activeModalWidget(), nullptr);
      window->close();
      open_during_run = window->isVisible();
    } else if (way == 3 && dialog && dialog->isVisible()) {
      std::raise(SIGTERM);
    } else if (way != 2 && dialog && dialog->isVisible()) {
      if (way == 0) QTest::keyClick(dialog, Qt::Key_Escape);
      if (way == 1) dialog->findChild<QPushButton*>()->click();
      // With the dialog gone, the window still takes no clicks.
      QTest::mouseClick(cup, Qt::LeftButton);
    } else {
      return;
    }
    cancelled = true;
  };
  MessageCatcher catcher;
  window->findChild<QPushButton*>("Command1")->click();

  QVERIFY(cancelled);
  int converted = 0;
  for (int i = 0; i < kFiles; ++i) {
    const QString before = Read(RunFile(folder_, i, "gns"));
    const QString after = Read(RunFile(folder_, i, "pta"));
    QVERIFY2((before == "car_class=2\n" && after == "<missing>") ||
                 (before == "<missing>" && after == "car_class=4\n"),
             qPrintable(RunFile(folder_, i, "gns")));
    if (after != "<missing>") ++converted;
  }
  QVERIFY(!cup->isChecked());
  QVERIFY(!catcher.texts().isEmpty());
  QCOMPARE(window->isVisible(), way < 2);
  if (way == 2) QVERIFY(open_during_run);
  QVERIFY2(converted < kFiles - 10, qPrintable(QString::number(converted)));
  QVERIFY2(catcher.texts().last().startsWith(QString::fromUtf8(
               olvesk::kCancelledHeading.data(),
               static_cast<qsizetype>(olvesk::kCancelledHeading.size()))),
           qPrintable(catcher.texts().last()));
}

void MainWindowTest::aSignalIgnoredAtStartLeavesTheWindowOpen() {
#if defined(Q_OS_WIN)
  QSKIP("Windows has no such signals");
#else
  // As under nohup, which starts the program with SIGHUP ignored.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before = {};
  sigaction(SIGHUP, &ignore, &before);
  olvesk::CloseOnTerminationSignals(window_.get());
  std::raise(SIGHUP);
  QTest::qWait(50);
  const bool open = window_->isVisible();
  sigaction(SIGHUP, &before, nullptr);
  QVERIFY(open);
#endif
}

void MainWindowTest::focusIsOnTheConvertButtonAtStartAndAfterARun() {
  SetActiveWindow(window_.get());
  QCOMPARE(QApplication::focusWidget(), control("Command1"));
  MessageCatcher catcher;
  // Space at start-up presses the button: nothing is highlighted.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  QCOMPARE(catcher.texts().size(), 1);
  QCOMPARE(window_->selection().TargetSeriesCode(), std::string("pta"));

  window_->fileList()->SetListIndex(1);  // B.GNS.CAR
  QTest::keyClick(control("Command1"), Qt::Key_Space);
  QCOMPARE(Read(folder_ + "/B.pta.car"), QString("name=x\ncar_class=4\n"));
  // The control that has the focus whenever the window is active.
  QCOMPARE(window_->focusWidget(), control("Command1"));
}

void MainWindowTest::namesThatAreNotUtf8ConvertUnderTheirRealNames() {
#if !defined(Q_OS_LINUX)
  QSKIP("Only Linux lets a file name be any bytes");
#else
  // "Citroën" in Latin-1, in the open folder and then in "Renée", a folder
  // opened from the directory list whose name is Latin-1 too.
  const std::string open = QFile::encodeName(folder_).toStdString();
  const std::string inner = open +
                            "/Ren\xe9"
                            "e";
  QVERIFY(std::filesystem::create_directory(inner));
  for (const std::string& folder : {open, inner}) {
    olvesk::WriteFile(folder + "/Citro\xebn.gns.car", "car_class=2\n");
    if (olvesk::ReadFile(folder + "/Citro\xebn.gns.car") == "<missing>") {
      QSKIP("This file system takes no name that is not UTF-8");
    }
    if (folder == inner) {
      // Opened again, the list shows the new folder.
      QTest::keyClick(window_->directoryList(), Qt::Key_Return);
      clickDirItem(dirItem("Ren\uFFFDe"), /*twice=*/true);
      QCOMPARE(window_->directoryList()->Path(), inner);
    }
    olvesk::FileListBox* list = window_->fileList();
    list->Refresh();
    const auto row = list->names().indexOf(QString("Citro\uFFFDn.gns.car"));
    QVERIFY(row >= 0);
    list->SetListIndex(static_cast<int>(row));
    MessageCatcher catcher;
    QTest::mouseClick(control("Command1"), Qt::LeftButton);

    QCOMPARE(catcher.texts(), QStringList({"Done Converting Car files"}));
    QCOMPARE(olvesk::ReadFile(folder + "/Citro\xebn.pta.car"),
             std::string("car_class=4\n"));
    QCOMPARE(olvesk::ReadFile(folder + "/Citro\xebn.gns.car"),
             std::string("<missing>"));
  }
#endif
}

void MainWindowTest::aFolderGoneBeforeThePressIsNamedAndLeft() {
  const QString deeper = folder_ + "/sub/deeper";
  const QString moved = folder_ + "/moved";
  QVERIFY(QDir().mkpath(deeper));
  Write(deeper + "/x.gns.car", "car_class=2\n");
  window_->directoryList()->setFolder(deeper);
  window_->fileList()->SetListIndex(0);
  QVERIFY(QDir().rename(deeper, moved));
  MessageCatcher catcher;
  QTest::mouseClick(control("Command1"), Qt::LeftButton);

  QCOMPARE(catcher.texts(),
           QStringList({"The folder " + QDir::toNativeSeparators(deeper) +
                        " is no longer there: it was renamed or removed."}));
  QCOMPARE(window_->directoryList()->folder(), folder_ + "/sub");
  QCOMPARE(window_->fileList()->folder(), folder_ + "/sub");
  QCOMPARE(Read(moved + "/x.gns.car"), QString("car_class=2\n"));

  // Renamed while the user was in another window: coming back finds it.
  window_->directoryList()->setFolder(moved);
  SetActiveWindow(nullptr);
  QVERIFY(QDir().rename(moved, deeper));
  SetActiveWindow(window_.get());
  QCOMPARE(window_->directoryList()->folder(), folder_);
  QCOMPARE(window_->fileList()->folder(), folder_);

  // Or replaced by another folder of the same name: its files are listed.
  window_->directoryList()->setFolder(deeper);
  SetActiveWindow(nullptr);
  QVERIFY(QDir().rename(deeper, moved));
  QVERIFY(QDir().mkpath(deeper));
  Write(deeper + "/y.cts.car", "car_class=3\n");
  SetActiveWindow(window_.get());
  QCOMPARE(window_->fileList()->names(), QStringList({"y.cts.car"}));
  Write(deeper + "/z.cts.car", "car_class=3\n");
  const QStringList both({"y.cts.car", "z.cts.car"});
  (void)QTest::qWaitFor(
      [this, &both] { return window_->fileList()->names() == both; });
  QCOMPARE(window_->fileList()->names(), both);

  // Renamed unseen, then clicked in the folder list: the lists move on too.
  QVERIFY(QDir().rename(deeper, folder_ + "/gone"));
  clickDirItem(window_->directoryList()->currentItem(), false);
  QCOMPARE(window_->directoryList()->folder(), folder_ + "/sub");
  QCOMPARE(window_->fileList()->folder(), folder_ + "/sub");
}

void MainWindowTest::aMessageShowsEveryLineWhole_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("as_given");  // short: shown exactly as given
  QString windows = "C:";
  for (int i = 0; i < 12; ++i) {
    windows += "\\segment_segment_segment_" + QString::number(i);
  }
  QTest::newRow("short") << QString("Done Converting Car files") << true;
  // A folder's name may look like markup; it is shown as it is.
  QTest::newRow("markup in a path")
      << QString(
             "The folder /cars &lt;old> <b>new</b>/cars is no longer "
             "there: it was renamed or removed.")
      << true;
  QTest::newRow("Windows path")
      << "These car files were not converted:\n\na.gns.car: open " + windows +
             "\\a.gns.car: Access denied."
      << false;
}

// However long a path in it, a message box shows every line whole: no
// word wider than the box, which would be cut off at its edge.
void MainWindowTest::aMessageShowsEveryLineWhole() {
  QFETCH(QString, text);
  QFETCH(bool, as_given);
  MessageCatcher catcher;
  QString shown;
  QString read;
  QString copied;
  catcher.on_box = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    QVERIFY(label != nullptr);
    shown = label->text();
    read =
        QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
    const QRect drawn = label->fontMetrics().boundingRect(
        QRect(0, 0, label->width(), 1 << 20), Qt::TextWordWrap, shown);
    QVERIFY2(
        drawn.width() <= label->width(),
        qPrintable(QString("%1 > %2").arg(drawn.width()).arg(label->width())));
    // Copied, the text holds the paths as they are.
    QTest::keySequence(box, QKeySequence::Copy);
    copied = QGuiApplication::clipboard()->text();
  };
  olvesk::MessageBoxes(window_.get()).Show(text.toStdString());
  QCOMPARE(catcher.texts(), QStringList({text}));
  if (as_given) QCOMPARE(shown, text);
  // What is drawn, as a screen reader is told it.
  if (as_given) QCOMPARE(read, text);
#if defined(Q_OS_WIN)
  QVERIFY2(copied.contains(text), qPrintable(copied));
#endif
}

int main(int argc, char* argv[]) {
  // Test discovery runs this without ctest's environment.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Results on stdout also where no console is attached, as under Wine.
  qputenv("QT_FORCE_STDERR_LOGGING", "1");
  QApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
