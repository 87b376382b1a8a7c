// The window by keyboard and screen reader: accessible names, the Tab order, the Alt letters
// of the captions; the list following the running row; and the format combo run through by
// keyboard, with and without files in the list.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

using namespace mobivert;
using guitest::Fixture;
using guitest::TWindowRig;

namespace {

QString AccessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// The row's cell is wholly inside the list's visible part.
bool RowInSight(gui::TFileListView* list, int row) {
    return list->viewport()->rect().contains(list->visualItemRect(list->item(row, gui::fcSource)));
}

} // namespace

class KeyboardTest : public QObject {
    Q_OBJECT
private slots:
    void everyControlHasANameATabPlaceAndAnAltLetter() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        QCOMPARE(AccessibleName(w.btnHelp), QString("Help"));
        // A combo box is read by its choice; its name, and the label that leads to it, go with it.
        QCOMPARE(w.selFormat->accessibleName(), QString("Output format"));
        QAccessibleInterface* combo = QAccessible::queryAccessibleInterface(w.selFormat);
        const auto labels = combo->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].first->text(QAccessible::Name), QString("Output Format:"));
        QCOMPARE(AccessibleName(w.txtOutput), QString("Output folder"));
        QCOMPARE(AccessibleName(w.lvFiles), QString("Files to convert"));
        QCOMPARE(AccessibleName(w.sbStatus), QString("Status"));
        QCOMPARE(AccessibleName(w.spnConversions), QString("Conversions at once"));
        for (QPushButton* b : {w.btnOpen, w.btnRemove, w.btnClear, w.btnConvert, w.btnOptions,
                               w.btnFolderChange, w.btnBrowse})
            QVERIFY2(!AccessibleName(b).isEmpty(), qPrintable(b->objectName()));
        QCOMPARE(w.btnClear->toolTip(), QString("Remove every video from the list"));
        QCOMPARE(w.btnRemove->toolTip(), QString("Remove selected video from the list"));

        // Tab goes down the window as it reads.
        const QList<QWidget*> order{w.lvFiles,       w.btnOpen,         w.btnRemove,
                                    w.btnClear,      w.selFormat,       w.btnOptions,
                                    w.txtOutput,     w.btnFolderChange, w.btnBrowse,
                                    w.chkSameFolder, w.spnConversions,  w.btnConvert};
        QList<QWidget*> chain;
        QWidget* next = w.lvFiles;
        do {
            if (order.contains(next))
                chain << next;
            next = next->nextInFocusChain();
        } while (next != w.lvFiles && chain.size() < order.size());
        QCOMPARE(chain, order);
        for (QWidget* c : order)
            QVERIFY2(c->focusPolicy() & Qt::TabFocus, qPrintable(c->objectName()));

        // Captions read as they always did, each with its own Alt letter; labels lead to their
        // controls.
        QSet<int> letters;
        const QList<QAbstractButton*> buttons{w.btnOpen,    w.btnRemove,    w.btnClear,
                                              w.btnConvert, w.btnOptions,   w.btnFolderChange,
                                              w.btnBrowse,  w.chkSameFolder};
        const QStringList captions{
            "Add...",  "Remove", "Clear",  "Convert!",
            "Options", "Change", "Browse", "Use the same directory to the source file"};
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(guitest::Caption(buttons[i]), captions[i]);
            const QKeySequence keys = QKeySequence::mnemonic(buttons[i]->text());
            QVERIFY2(!keys.isEmpty(), qPrintable(captions[i]));
            letters << keys[0].toCombined();
        }
        int labelled = 0;
        for (QLabel* label : w.findChildren<QLabel*>()) {
            if (!label->buddy())
                continue;
            ++labelled;
            letters << QKeySequence::mnemonic(label->text())[0].toCombined();
        }
        QCOMPARE(labelled, 3);
        QCOMPARE(letters.size(), buttons.size() + labelled);
        // While converting, Stop and Pause/Resume have letters of their own too.
        QCOMPARE(QKeySequence::mnemonic("&Stop"), QKeySequence(Qt::ALT | Qt::Key_S));
    }

    // The list keeps the running row in sight in a long batch, unless the user scrolled away;
    // the status bar forgets the batch when the list is emptied.
    void listFollowsTheRunningRowAndTheStatusBarClearsWithTheList() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.resize(700, 480);
        w.show();
        QStringList files;
        for (int i = 0; i < 40; ++i)
            files << Fixture("mono8k.wav");
        rig.Add(files);
        QScrollBar* bar = w.lvFiles->verticalScrollBar();
        QCOMPARE(bar->value(), 0);
        QVERIFY(!RowInSight(w.lvFiles, 30));

        w.ConverterProgress(30, 500, 1000);
        QVERIFY(RowInSight(w.lvFiles, 30));
        w.lvFiles->SetStatus(30, mobivert::app::TFileState::Done, "Done");
        // The user goes to the top: the next running row does not pull the list away.
        bar->setValue(0);
        w.ConverterProgress(31, 500, 1000);
        QCOMPARE(bar->value(), 0);
        // Back in sight of it, the list follows again.
        w.lvFiles->scrollToItem(w.lvFiles->item(31, gui::fcSource));
        w.lvFiles->SetStatus(31, mobivert::app::TFileState::Done, "Done");
        w.ConverterProgress(39, 500, 1000);
        QVERIFY(RowInSight(w.lvFiles, 39));

        w.sbStatus->showMessage("40 files converted in 0:10");
        w.btnClear->click();
        QCOMPARE(w.sbStatus->currentMessage(), QString());
        rig.Add({Fixture("mono8k.wav")});
        w.sbStatus->showMessage("1 file converted in 0:01");
        w.lvFiles->selectRow(0);
        w.btnRemove->click();
        QCOMPARE(w.lvFiles->rowCount(), 0);
        QCOMPARE(w.sbStatus->currentMessage(), QString());
    }

    // Up and down through all the formats by keyboard, closed and with its list open, on an
    // empty list, with files in it, and while a batch runs (the combo is disabled then).
    void formatComboByKeyboardOverEveryEntry() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto runThrough = [&w] {
            w.selFormat->setFocus();
            w.selFormat->setCurrentIndex(0);
            // The keys pass over the separator and the "Modern formats" heading, which cannot
            // be chosen: every other entry is reached in turn.
            QList<int> entries;
            for (int i = 0; i < w.selFormat->count(); ++i)
                if (!w.selFormat->itemText(i).isEmpty() &&
                    w.selFormat->itemText(i) != "Modern formats")
                    entries << i;
            QCOMPARE(entries.size(), 32);
            for (int k = 1; k < entries.size(); ++k) {
                QTest::keyClick(w.selFormat, Qt::Key_Down);
                QCOMPARE(w.selFormat->currentIndex(), entries[k]);
                QCoreApplication::processEvents();
            }
            for (int k = entries.size() - 2; k >= 0; --k) {
                QTest::keyClick(w.selFormat, Qt::Key_Up);
                QCOMPARE(w.selFormat->currentIndex(), entries[k]);
            }
            // Through the open list, to "Windows Media Video (*.wmv)" and chosen with Enter.
            const int wmv = w.selFormat->findText("Windows Media Video (*.wmv)");
            w.selFormat->showPopup();
            QCoreApplication::processEvents();
            QWidget* popup = w.selFormat->view();
            for (int i = 0; i < wmv; ++i)
                QTest::keyClick(popup, Qt::Key_Down);
            QTest::keyClick(popup, Qt::Key_Return);
            QCoreApplication::processEvents();
            QCOMPARE(w.selFormat->currentIndex(), wmv);
            QVERIFY(w.btnOptions->isEnabled());
            QCOMPARE(w.lblOverrides->isVisible(), !w.lblOverrides->text().isEmpty());
        };
        runThrough();
        rig.Add({Fixture("h264_aac.mp4"), Fixture("tone.mp3"), Fixture("mono8k.wav")});
        runThrough();
        QCOMPARE(w.Converter().TaskCount(), 3);

        // During a batch the keys reach a disabled combo and change nothing.
        w.btnConvert->click();
        QCOMPARE(w.State(), gui::TWindowState::Converting);
        const int running = w.selFormat->currentIndex();
        for (int i = 0; i < 21; ++i)
            QTest::keyClick(w.selFormat, i % 2 ? Qt::Key_Up : Qt::Key_Down);
        QCOMPARE(w.selFormat->currentIndex(), running);
        QVERIFY(rig.WaitForTitle(" [Done]"));
        runThrough();
    }
};

MOBIVERT_GUI_TEST(KeyboardTest);

#include "KeyboardTest.moc"
