// The source list: adding through the open dialog and by dropping files, the probe check that
// leaves unreadable files out, appending and replacing, Remove and Clear, and the pop-up menu.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelection>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <cmath>

using namespace mobivert;
using guitest::Fixture;
using guitest::TShownMessage;
using guitest::TWindowRig;

class SourceListTest : public QObject {
    Q_OBJECT
private slots:
    void addLeavesOutFilesTheLibrariesCannotRead() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        const QString text = rig.dir.filePath("notes.mp4");
        QFile notes(text);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("these are notes, not a film\n");
        notes.close();

        rig.Add(
            {Fixture("h264_aac.mp4"), text, rig.dir.filePath("missing.avi"), Fixture("tone.mp3")});
        QCOMPARE(rig.dialogs.OpenDialogCount, 1);
        QCOMPARE(rig.dialogs.LastFilters, gui::OpenDialogFilters());
        QCOMPARE(w.lvFiles->rowCount(), 2);
        QCOMPARE(w.lvFiles->item(0, gui::fcSource)->text(), QString("h264_aac.mp4"));
        QCOMPARE(w.lvFiles->item(1, gui::fcSource)->text(), QString("tone.mp3"));
        QCOMPARE(w.lvFiles->item(1, gui::fcPath)->text(), QString(MOBIVERT_FIXTURE_DIR) + "/");
        QCOMPARE(rig.Statuses(), (QStringList{"Ready", "Ready"}));
        QCOMPARE(w.Converter().TaskCount(), 2);
        QCOMPARE(w.lvFiles->Task(1), 1);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Ready]"));
        // The two left out are named in one box, after the addition, saying why.
        QCOMPARE(rig.dialogs.Messages.size(), size_t(1));
        QCOMPARE(rig.dialogs.Messages[0].Text,
                 QString("These files were not added to the list:\n\n"
                         "notes.mp4: not a video or audio file\n"
                         "missing.avi: the file is not there any more"));
        // The sources' lengths and sizes, for weighing the batch's progress.
        QVERIFY(std::abs(w.lvFiles->Work(1).DurationMs - 2000) < 100);
        QCOMPARE(w.lvFiles->Work(1).Bytes, QFileInfo(Fixture("tone.mp3")).size());

        // Nothing readable: no row, and the title stays as it was.
        TWindowRig other;
        other.Open();
        other.Add({text});
        QCOMPARE(other.window->lvFiles->rowCount(), 0);
        QCOMPARE(other.window->windowTitle(), QString("Corvel Mobivert"));
        QCOMPARE(other.dialogs.Texts(TShownMessage::Information),
                 QStringList{"This file was not added to the list:\n\nnotes.mp4: not a video or "
                             "audio file"});
    }

    // Files that are not media, empty or cut before their header ends are named with their
    // reasons, in plain words with the libraries' text in the details, however they come.
    void everyFileLeftOutIsNamedWithItsReason() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        const QString text = rig.dir.filePath("clip.avi");
        QFile notes(text);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("RIFF? no: a shopping list\n");
        notes.close();
        const QString empty = rig.dir.filePath("empty.avi");
        QFile(empty).open(QIODevice::WriteOnly);
        // Its index comes after the media data, which is cut in half.
        const QString cut = rig.dir.filePath("cut.mp4");
        QVERIFY(QFile::copy(Fixture("h264_aac.mp4"), cut));
        QVERIFY(QFile::resize(cut, QFileInfo(cut).size() / 2));
        const QString expected = "These files were not added to the list:\n\n"
                                 "clip.avi: not a video or audio file\n"
                                 "empty.avi: the file is empty\n"
                                 "cut.mp4: the file ends before its header does";

        const QStringList files{text, empty, Fixture("tone.mp3"), cut};
        rig.Add(files);
        w.lvFiles->FilesDropped(files);
        w.AddFiles(gui::FilesFromArguments(QStringList{"mobivert"} + files));
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information),
                 (QStringList{expected, expected, expected}));
        QCOMPARE(w.lvFiles->rowCount(), 3);
        const QString details = rig.dialogs.Messages[0].Details;
        const QStringList lines = details.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith("clip.avi: ") && lines[0].size() > 12, qPrintable(details));
        QCOMPARE(lines[1], QString("empty.avi: the file is empty"));
        QVERIFY2(lines[2].startsWith("cut.mp4: ") && lines[2].contains("moov atom not found"),
                 qPrintable(details));
        // The libraries' text names no folder: the row's file is named once, first.
        QVERIFY2(!details.contains(rig.dir.path()), qPrintable(details));
    }

    void cancelledOpenDialogChangesNothing() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.Add({Fixture("tone.mp3")});
        rig.Add({});
        QCOMPARE(rig.dialogs.OpenDialogCount, 2);
        QCOMPARE(w.lvFiles->rowCount(), 1);
        QCOMPARE(w.Converter().TaskCount(), 1);
    }

    void addBeforeAnyConversionAppends() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.Add({Fixture("tone.mp3")});
        rig.Add({Fixture("mono8k.wav"), Fixture("h264_aac.mp4")});
        QCOMPARE(w.lvFiles->rowCount(), 3);
        QCOMPARE(w.lvFiles->item(2, gui::fcSource)->text(), QString("h264_aac.mp4"));
        QCOMPARE(w.Converter().TaskCount(), 3);
        QCOMPARE(w.lvFiles->Task(2), 2);
    }

    void removeAndClear() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.Add({Fixture("tone.mp3"), Fixture("mono8k.wav"), Fixture("h264_aac.mp4")});

        // No selection: a message, and nothing changes.
        w.lvFiles->clearSelection();
        w.btnRemove->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information),
                 QStringList{"Please select a file from the list."});
        QCOMPARE(w.lvFiles->rowCount(), 3);
        QCOMPARE(w.Converter().TaskCount(), 3);

        // Removing the middle row removes its task; the last row keeps addressing its own.
        w.lvFiles->selectRow(1);
        w.btnRemove->click();
        QCOMPARE(w.lvFiles->rowCount(), 2);
        QCOMPARE(w.Converter().TaskCount(), 2);
        QCOMPARE(w.lvFiles->item(1, gui::fcSource)->text(), QString("h264_aac.mp4"));
        QCOMPARE(w.lvFiles->Task(1), 1);
        QCOMPARE(QString(w.Converter().TaskInputContext(1)->url), Fixture("h264_aac.mp4"));
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Ready]"));

        w.lvFiles->selectRow(0);
        w.btnRemove->click();
        w.lvFiles->selectRow(0);
        w.btnRemove->click();
        QCOMPARE(w.lvFiles->rowCount(), 0);
        QCOMPARE(w.Converter().TaskCount(), 0);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert"));

        rig.Add({Fixture("tone.mp3"), Fixture("mono8k.wav")});
        w.btnClear->click();
        QCOMPARE(w.lvFiles->rowCount(), 0);
        QCOMPARE(w.Converter().TaskCount(), 0);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert"));
    }

    // Rows removed in separate runs (first, a pair, last): every row left keeps addressing its
    // own task, and the batch's reports reach the right rows.
    void removingScatteredRowsKeepsEachRowWithItsTask() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        const QStringList files = {Fixture("tone.mp3"),     Fixture("mono8k.wav"),
                                   Fixture("sample.mp4"),   Fixture("h264_aac.mp4"),
                                   Fixture("h264_mp3.flv"), Fixture("sine_stereo_44k.wav"),
                                   Fixture("mpeg4_mp3.avi")};
        rig.Add(files);
        QCOMPARE(w.lvFiles->rowCount(), 7);
        w.lvFiles->clearSelection();
        for (int row : {0, 2, 3, 6})
            w.lvFiles->selectionModel()->select(w.lvFiles->model()->index(row, 0),
                                                QItemSelectionModel::Select |
                                                    QItemSelectionModel::Rows);
        w.btnRemove->click();
        const QStringList left = {files[1], files[4], files[5]};
        QCOMPARE(w.lvFiles->rowCount(), 3);
        QCOMPARE(w.Converter().TaskCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(w.lvFiles->FullPath(row), left[row]);
            QCOMPARE(w.lvFiles->RowOfTask(w.lvFiles->Task(row)), row);
            QCOMPARE(QString(w.Converter().TaskInputContext(w.lvFiles->Task(row))->url), left[row]);
        }

        rig.SelectPreset("Wave Audio (*.wav)");
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done", "Done"}));
        QCOMPARE(rig.OutputFiles(),
                 (QStringList{"h264_mp3 (Wave Audio).wav", "mono8k (Wave Audio).wav",
                              "sine_stereo_44k (Wave Audio).wav"}));
    }

    // Many runs (every other row of 18): the list is rebuilt from the rows that stay, each with
    // its cells and its task.
    void removingEveryOtherRowOfALongListKeepsEachRowWithItsTask() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        const QStringList three = {Fixture("tone.mp3"), Fixture("mono8k.wav"),
                                   Fixture("sine_stereo_44k.wav")};
        QStringList files;
        for (int i = 0; i < 6; ++i)
            files << three;
        rig.Add(files);
        QCOMPARE(w.lvFiles->rowCount(), 18);
        QItemSelection even;
        for (int row = 0; row < 18; row += 2)
            even.select(w.lvFiles->model()->index(row, 0), w.lvFiles->model()->index(row, 2));
        w.lvFiles->selectionModel()->select(even, QItemSelectionModel::ClearAndSelect);
        w.btnRemove->click();
        QCOMPARE(w.lvFiles->rowCount(), 9);
        QCOMPARE(w.Converter().TaskCount(), 9);
        for (int row = 0; row < 9; ++row) {
            const QString file = files[2 * row + 1];
            QCOMPARE(w.lvFiles->FullPath(row), file);
            QCOMPARE(w.lvFiles->Status(row), QString("Ready"));
            QCOMPARE(w.lvFiles->item(row, gui::fcSource)->toolTip(), file);
            QCOMPARE(w.lvFiles->RowOfTask(w.lvFiles->Task(row)), row);
            QCOMPARE(QString(w.Converter().TaskInputContext(w.lvFiles->Task(row))->url), file);
        }
    }

    void filesDroppedOntoTheListAreAddedAsAddAddsThem() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.Add({Fixture("tone.mp3")});

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(Fixture("mono8k.wav")),
                      QUrl("https://example.org/clip.mp4"),
                      QUrl::fromLocalFile(rig.dir.filePath("missing.wav")),
                      QUrl::fromLocalFile(Fixture("sample.mp4"))});
        QWidget* target = w.lvFiles->viewport();
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);

        QCOMPARE(w.lvFiles->rowCount(), 3);
        QCOMPARE(w.lvFiles->item(1, gui::fcSource)->text(), QString("mono8k.wav"));
        QCOMPARE(w.lvFiles->item(2, gui::fcSource)->text(), QString("sample.mp4"));
        QCOMPARE(w.Converter().TaskCount(), 3);
        QCOMPARE(rig.dialogs.OpenDialogCount, 1);

        // Something that holds no local file is refused at the door.
        QMimeData words;
        words.setText("clip.mp4");
        QDragEnterEvent refused(at, Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &refused);
        QVERIFY(!refused.isAccepted());
    }

    void popupMenuEntries() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        const QList<QAction*> entries = w.mnuList->actions();
        QCOMPARE(entries.size(), 7);
        QCOMPARE(entries[0]->text(), QString("Add File(s)"));
        QVERIFY(entries[1]->isSeparator());
        QCOMPARE(entries[2]->text(), QString("Open output"));
        QCOMPARE(entries[3]->text(), QString("Open output folder"));
        QVERIFY(entries[4]->isSeparator());
        QCOMPARE(entries[5]->text(), QString("Remove"));
        QCOMPARE(entries[6]->text(), QString("Clear All"));

        rig.dialogs.FilesToOpen = {Fixture("tone.mp3")};
        entries[0]->trigger();
        QCOMPARE(w.lvFiles->rowCount(), 1);
        w.lvFiles->selectRow(0);
        entries[5]->trigger();
        QCOMPARE(w.lvFiles->rowCount(), 0);
    }

    void keysAddRemoveConvertAndOpenTheOutputs() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        rig.dialogs.FilesToOpen = {Fixture("tone.mp3"), Fixture("mono8k.wav"),
                                   Fixture("sample.mp4")};
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(rig.dialogs.OpenDialogCount, 1);
        QCOMPARE(w.lvFiles->rowCount(), 3);
        // Delete removes every selected row with its task.
        w.lvFiles->setFocus();
        w.lvFiles->selectRow(0);
        w.lvFiles->selectionModel()->select(w.lvFiles->model()->index(2, 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
        QTest::keyClick(w.lvFiles, Qt::Key_Delete);
        QCOMPARE(w.lvFiles->rowCount(), 1);
        QCOMPARE(w.lvFiles->item(0, gui::fcSource)->text(), QString("mono8k.wav"));
        QCOMPARE(w.Converter().TaskCount(), 1);
        QCOMPARE(w.lvFiles->Task(0), 0);

        rig.SelectPreset("Wave Audio (*.wav)");
        QTest::keyClick(&w, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(w.State(), gui::TWindowState::Converting);
        QVERIFY(rig.WaitForTitle(" [Done]"));
        // The window was in front: no notification.
        QVERIFY(rig.dialogs.Notifications.isEmpty());

        // Enter, a double-click and the pop-up menu open the output or its folder.
        const QString output = QDir(rig.OutputFolder()).filePath("mono8k (Wave Audio).wav");
        w.lvFiles->setFocus();
        w.lvFiles->setCurrentCell(0, gui::fcSource);
        QTest::keyClick(w.lvFiles, Qt::Key_Return);
        QCOMPARE(rig.dialogs.Opened, QStringList{output});
        const QPoint row = w.lvFiles->visualItemRect(w.lvFiles->item(0, gui::fcSource)).center();
        QTest::mouseClick(w.lvFiles->viewport(), Qt::LeftButton, Qt::NoModifier, row);
        QTest::mouseDClick(w.lvFiles->viewport(), Qt::LeftButton, Qt::NoModifier, row);
        QCOMPARE(rig.dialogs.Opened, (QStringList{output, output}));
        emit w.lvFiles->customContextMenuRequested(row);
        QVERIFY(w.actOpenOutput->isEnabled() && w.actOpenFolder->isEnabled());
        w.actOpenFolder->trigger();
        w.mnuList->close();
        QCOMPARE(rig.dialogs.Opened.last(), rig.OutputFolder());

        // An output that is gone is not offered.
        QVERIFY(QFile::remove(output));
        emit w.lvFiles->customContextMenuRequested(row);
        QVERIFY(!w.actOpenOutput->isEnabled() && !w.actOpenFolder->isEnabled());
        w.mnuList->close();
        QTest::keyClick(w.lvFiles, Qt::Key_Return);
        QCOMPARE(rig.dialogs.Opened.size(), 3);
    }

    void filesNamedAtStartAreAddedAndTheDesktopEntryOffersThem() {
        QCOMPARE(gui::FilesFromArguments({"mobivert", Fixture("tone.mp3"), "-x",
                                          QUrl::fromLocalFile(Fixture("mono8k.wav")).toString(),
                                          "--", "-dash.wav"}),
                 (QStringList{Fixture("tone.mp3"), Fixture("mono8k.wav"), "-dash.wav"}));
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.AddFiles(
            gui::FilesFromArguments({"mobivert", Fixture("tone.mp3"), Fixture("sample.mp4")}));
        QCOMPARE(w.lvFiles->rowCount(), 2);
        QCOMPARE(w.Converter().TaskCount(), 2);

        QFile entry(QString(MOBIVERT_SOURCE_DIR) + "/src/app/gui/resources/mobivert.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(entry.readAll()).split('\n');
        QVERIFY(lines.contains("Exec=mobivert %F"));
        const QStringList types = lines.filter(QRegularExpression("^MimeType="))
                                      .value(0)
                                      .mid(9)
                                      .split(';', Qt::SkipEmptyParts);
        for (const char* type : {"video/mp4", "video/x-msvideo", "video/x-matroska", "video/mpeg",
                                 "video/quicktime", "video/3gpp", "video/x-ms-wmv", "audio/mpeg",
                                 "audio/x-wav", "audio/flac", "audio/ogg", "audio/AMR"})
            QVERIFY2(types.contains(type), type);
        for (const QString& type : types)
            QVERIFY2(QRegularExpression(R"(^(audio|video|application)/[\w.+-]+$)")
                         .match(type)
                         .hasMatch(),
                     qPrintable(type));
        const QString validate = QStandardPaths::findExecutable("desktop-file-validate");
        if (!validate.isEmpty())
            QCOMPARE(QProcess::execute(validate, {entry.fileName()}), 0);
    }
};

MOBIVERT_GUI_TEST(SourceListTest);

#include "SourceListTest.moc"
