// What the window does with the user's input while a batch runs and right after it: clicks and keys made
// meanwhile are dropped, Escape, the close box and Alt+F4 ask whether to stop; the progress bar, the default
// button and the focus after a batch; the answer to a drop.
#include <qpa/qwindowsysteminterface.h>

#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "res/strings.h"
#include "support/images.h"
#include "ui/file_list_ctrl.h"
#include "ui/main_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

namespace fs = std::filesystem;
using Async = QWindowSystemInterface::AsynchronousDelivery;

// Input as the platform delivers it: queued, and handled whenever the window next looks at its queue.
void QueueClick(QWidget& window, QWidget* target) {
    const QPointF local = target->mapTo(&window, target->rect().center());
    const QPointF global = window.mapToGlobal(local);
    QWindow* handle = window.windowHandle();
    QWindowSystemInterface::handleMouseEvent<Async>(handle, local, global, Qt::LeftButton, Qt::LeftButton,
                                                    QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Async>(handle, local, global, Qt::NoButton, Qt::LeftButton,
                                                    QEvent::MouseButtonRelease);
}

void QueueKey(QWidget& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWindowSystemInterface::handleKeyEvent<Async>(window.windowHandle(), QEvent::KeyPress, key, modifiers);
    QWindowSystemInterface::handleKeyEvent<Async>(window.windowHandle(), QEvent::KeyRelease, key, modifiers);
}

// Lets everything queued reach the window, as the event loop does once a batch has returned.
void Settle() {
    for (int i = 0; i < 5; ++i) {
        QWindowSystemInterface::flushWindowSystemEvents();
        QApplication::processEvents(QEventLoop::AllEvents);
    }
}

class BatchInputTest : public WindowTest {
protected:
    static constexpr int kRows = 6;

    void SetUp() override {
        source = dir / "quelle";
        target = dir / "ziel";
        fs::create_directories(source);
        // Every image is smaller than the box and not enlarged: each batch reports how many it processed,
        // so the reports count the batches and their files.
        for (int i = 0; i < kRows; ++i) test::WriteImage(source + "/bild" + std::to_string(i) + ".jpg", 160, 120);
        store.WriteProfileInt("Allg", "Bildsize", 1);
        store.WriteProfileInt("Allg", "Breite", 400);
        store.WriteProfileInt("Allg", "Hoehe", 400);
        store.WriteProfileInt("Allg", "NichtVergroessern", 1);
        store.WriteProfileInt("Allg", "ZielPath", 1);
        store.WriteProfileStringA("Allg", "Verz", target);
        store.WriteProfileInt("Parameter", "ThreadAnzahl", 0);
    }

    void Open(CMainDialog& dialog) {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        dialog.OnDropFiles({source});
        ASSERT_EQ(dialog.FileList()->rowCount(), kRows);
    }

    // Runs `during` once, at the first moment the batch is under way (the button is off).
    void DuringTheBatch(CMainDialog& dialog, std::function<void()> during) {
        auto* timer = new QTimer(&dialog);
        QObject::connect(timer, &QTimer::timeout, [&dialog, timer, during] {
            if (dialog.CompressButton()->isEnabled()) return;
            timer->stop();
            during();
        });
        timer->start(0);
    }

    // Answers the stop question with `answer` whenever it comes up; counts the questions.
    void AnswerStopQuestion(CMainDialog& dialog, const QString& answer) {
        auto* timer = new QTimer(&dialog);
        QObject::connect(timer, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->text() != QString::fromUtf8(res::LoadString(res::IDS_STOP_QUESTION))) {
                CloseStrayDialog();
                return;
            }
            ++questions;
            for (QAbstractButton* button : box->buttons())
                if (button->text() == answer) button->click();
        });
        timer->start(5);
    }

    // A dialog that input replayed after the batch opened (the info box for F1, say): counted and closed.
    void CloseStrayDialog() {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ++strayDialogs;
            modal->reject();
        }
    }
    void WatchForStrayDialogs(CMainDialog& dialog) {
        auto* timer = new QTimer(&dialog);
        QObject::connect(timer, &QTimer::timeout, [this] { CloseStrayDialog(); });
        timer->start(5);
    }

    std::string Report(int processed) {
        return processed == 1 ? res::LoadString(res::IDS_SKIPPED_ONE)
                              : res::FormatString(res::IDS_SKIPPED_REPORT, processed);
    }

    std::string source, target;
    int questions = 0;
    int strayDialogs = 0;
};

TEST_F(BatchInputTest, ClicksAndKeysMadeDuringABatchAreDroppedNotReplayedAfterIt) {
    CMainDialog dialog(store);
    Open(dialog);
    auto* clear = dialog.ControlAs<QPushButton>(res::kMainClearList);
    DuringTheBatch(dialog, [&] {
        QueueClick(dialog, dialog.CompressButton());  // greyed, but once enabled it would start a second batch
        QueueClick(dialog, clear);
        QueueKey(dialog, Qt::Key_Return);
        QueueKey(dialog, Qt::Key_Delete);
        QueueKey(dialog, Qt::Key_F1);                      // a shortcut of the window
        QueueKey(dialog, Qt::Key_O, Qt::ControlModifier);  // "Dateien hinzufügen..."
    });
    WatchForStrayDialogs(dialog);
    QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Report(kRows)});  // one batch, all files
    EXPECT_EQ(dialog.FileList()->rowCount(), kRows);
    EXPECT_EQ(strayDialogs, 0);  // no info box, no file chooser
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(questions, 0);

    // After the batch the window takes its input again.
    QueueClick(dialog, dialog.CompressButton());
    Settle();
    EXPECT_EQ(recorder.messages().size(), 2u);
}

TEST_F(BatchInputTest, EscapeDuringABatchAsksAndJaStopsItWithTheWindowOpen) {
    CMainDialog dialog(store);
    Open(dialog);
    AnswerStopQuestion(dialog, "&Ja");
    DuringTheBatch(dialog, [&] { QueueKey(dialog, Qt::Key_Escape); });
    QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(dialog.isVisible());
    // No further file started; the closing steps ran: the report of the files done, the button, the cursor.
    const size_t written = test::FolderEntries(target).size();
    EXPECT_EQ(written, 0u);  // every image was left alone by the no-enlarge rule
    ASSERT_EQ(recorder.messages().size(), 1u);
    const int processed = dialog.SkippedCount();
    EXPECT_GT(processed, 0);
    EXPECT_LT(processed, kRows);
    EXPECT_EQ(recorder.messages()[0], Report(processed));
    EXPECT_TRUE(dialog.CompressButton()->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(dialog.FileList()->rowCount(), kRows);
    // The bar stays where the work stopped; the report says the batch was stopped and lists the rest.
    EXPECT_EQ(dialog.ProgressBar()->maximum(), kRows);
    EXPECT_EQ(dialog.ProgressBar()->value(), processed);
    ASSERT_NE(dialog.LastReport(), nullptr);
    const ReportTotals totals = dialog.LastReport()->Totals();
    EXPECT_EQ(totals.notDone, kRows - processed);
    EXPECT_TRUE(FormatSummaryLine(totals).ends_with("; abgebrochen, " + std::to_string(kRows - processed) +
                                                    " nicht bearbeitet"));
    EXPECT_EQ(dialog.LastReport()->rows.back().result, FileResult::NotDone);

    // Escape outside a batch closes the window as always.
    QueueKey(dialog, Qt::Key_Escape);
    Settle();
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(BatchInputTest, NeinGoesOnWithTheWholeList) {
    CMainDialog dialog(store);
    Open(dialog);
    AnswerStopQuestion(dialog, "&Nein");
    DuringTheBatch(dialog, [&] { QueueKey(dialog, Qt::Key_F4, Qt::AltModifier); });
    QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Report(kRows)});
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(BatchInputTest, TheCloseBoxDuringABatchAsksTooAlsoWithWorkers) {
    for (int threads : {0, 2}) {
        SCOPED_TRACE(threads);
        store.WriteProfileInt("Parameter", "ThreadAnzahl", threads);
        recorder.Clear();
        questions = 0;
        CMainDialog dialog(store);
        Open(dialog);
        AnswerStopQuestion(dialog, "&Ja");
        DuringTheBatch(dialog, [&] { QWindowSystemInterface::handleCloseEvent<Async>(dialog.windowHandle()); });
        QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
        Settle();
        EXPECT_EQ(questions, 1);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.CompressButton()->isEnabled());
        ASSERT_EQ(recorder.messages().size(), 1u);
        EXPECT_LT(dialog.SkippedCount(), kRows);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(BatchInputTest, ABatchWithoutWorkersLeavesAnEmptyStillBar) {
    CMainDialog dialog(store);
    Open(dialog);
    QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
    QProgressBar* bar = dialog.ProgressBar();
    EXPECT_LT(bar->minimum(), bar->maximum());  // an empty range would be drawn as a busy animation
    EXPECT_EQ(bar->value(), bar->minimum());
}

TEST_F(BatchInputTest, KomprimierenStaysTheDefaultAndTheFocusComesBack) {
    CMainDialog dialog(store);
    Open(dialog);
    auto* clear = dialog.ControlAs<QPushButton>(res::kMainClearList);
    bool focusMovedAway = false;
    DuringTheBatch(dialog, [&] { focusMovedAway = dialog.focusWidget() != dialog.CompressButton(); });
    QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
    EXPECT_TRUE(focusMovedAway);  // the disabled button cannot keep it meanwhile
    EXPECT_EQ(dialog.focusWidget(), dialog.CompressButton());
    EXPECT_TRUE(dialog.CompressButton()->isDefault());
    EXPECT_FALSE(clear->isDefault());
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);  // a second batch, not a cleared list
    EXPECT_EQ(recorder.messages().size(), 2u);
    EXPECT_EQ(dialog.FileList()->rowCount(), kRows);

    // Started by Enter in an edit: the focus stays there, Enter starts the next batch.
    auto* rate = dialog.ControlAs<QLineEdit>(res::kMainRate);
    rate->setFocus();
    QTest::keyClick(rate, Qt::Key_Return);
    EXPECT_EQ(recorder.messages().size(), 3u);
    EXPECT_EQ(dialog.focusWidget(), rate);
    EXPECT_TRUE(dialog.CompressButton()->isDefault());
    QTest::keyClick(rate, Qt::Key_Return);
    EXPECT_EQ(recorder.messages().size(), 4u);
    EXPECT_EQ(dialog.FileList()->rowCount(), kRows);
}

TEST_F(BatchInputTest, ADropIsTakenAsACopyWhateverTheSourceProposes) {
    CMainDialog dialog(store);
    dialog.show();
    QMimeData data;
    data.setData("text/uri-list",
                 QByteArray("file://") + QByteArray::fromStdString(source).toPercentEncoding("/") + "\r\n");
    const QPoint at = dialog.FileList()->geometry().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    for (QDropEvent* event : {static_cast<QDropEvent*>(&enter), static_cast<QDropEvent*>(&move), &drop}) {
        event->setDropAction(Qt::MoveAction);  // what Shift asks for in a file manager
        QApplication::sendEvent(&dialog, event);
        EXPECT_TRUE(event->isAccepted()) << event->type();
        EXPECT_EQ(event->dropAction(), Qt::CopyAction) << event->type();
    }
    EXPECT_EQ(dialog.FileList()->rowCount(), kRows);

    // Offered a link but no copy: a link. Offered only a move: refused, nothing taken.
    auto dragAndDrop = [&](Qt::DropActions actions) {
        QDragEnterEvent enterAgain(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enterAgain);
        QDropEvent dropAgain(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        dropAgain.ignore();
        QApplication::sendEvent(&dialog, &dropAgain);
        return std::make_pair(enterAgain.isAccepted() && dropAgain.isAccepted(), dropAgain.dropAction());
    };
    EXPECT_EQ(dragAndDrop(Qt::MoveAction | Qt::LinkAction), std::make_pair(true, Qt::LinkAction));
    EXPECT_EQ(dialog.FileList()->rowCount(), 2 * kRows);
    EXPECT_FALSE(dragAndDrop(Qt::MoveAction).first);
    EXPECT_EQ(dialog.FileList()->rowCount(), 2 * kRows);
    EXPECT_TRUE(fs::exists(source + "/bild0.jpg"));
}

}  // namespace
}  // namespace qx::test
