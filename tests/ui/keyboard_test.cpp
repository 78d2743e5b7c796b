// The windows from the keyboard: Tab into radio groups, Delete in the file list.
#include <QAbstractButton>
#include <QTest>

#include "settings/settings.h"
#include "tests/support/test_support.h"
#include "ui/file_list_ctrl.h"
#include "ui/main_dialog.h"
#include "ui/parameter_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class KeyboardTest : public WindowTest {
protected:
    // Shows `dialog` active, puts the focus on control `from` and presses Tab (or Shift+Tab).
    template <typename Dialog>
    static int TabFrom(Dialog& dialog, int from, bool forward = true) {
        dialog.Control(from)->setFocus(Qt::OtherFocusReason);
        return Tab(dialog, forward);
    }
    template <typename Dialog>
    static int Tab(Dialog& dialog, bool forward = true) {
        QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab,
                        forward ? Qt::NoModifier : Qt::ShiftModifier);
        for (const auto& control : dialog.Controls())
            if (control.widget == QApplication::focusWidget()) return control.row->id;
        return 0;
    }
    template <typename Dialog>
    static void Activate(Dialog& dialog) {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
};

TEST_F(KeyboardTest, TabIntoARadioGroupLandsOnItsCheckedButton) {
    store.WriteProfileInt("Allg", "ZielPath", 1);  // the target folder edit and "..." take the focus
    CMainDialog dialog(store);
    Activate(dialog);
    ASSERT_EQ(dialog.Values().Bildsize, 2);

    EXPECT_EQ(TabFrom(dialog, 1004), 1009);  // "wie Quelldatei", not "Prozent"
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(dialog.ControlAs<QAbstractButton>(1009)->isChecked());  // Space changed nothing
    EXPECT_EQ(Tab(dialog), 1003);                                       // and the next Tab leaves the group
    EXPECT_EQ(Tab(dialog, false), 1009);
    EXPECT_EQ(Tab(dialog, false), 1004);
    EXPECT_EQ(Tab(dialog, false), 1000);
    EXPECT_EQ(Tab(dialog, false), 1031);  // backwards into the target group: its checked button too
    EXPECT_EQ(TabFrom(dialog, 2), 1031);  // Tab from the last control wraps into the same group

    // Checking another button moves the group's stop with it.
    dialog.ControlAs<QAbstractButton>(1008)->click();
    EXPECT_EQ(TabFrom(dialog, 1004), 1008);
    EXPECT_EQ(Tab(dialog), 1011);
    EXPECT_EQ(Tab(dialog), 1012);
    EXPECT_EQ(Tab(dialog), 1003);
}

TEST_F(KeyboardTest, TabIntoAGroupWithoutACheckedButtonLandsOnItsFirst) {
    store.WriteProfileInt("Allg", "ZielPath", 1);
    store.WriteProfileInt("Allg", "Bildsize", 5);
    CMainDialog dialog(store);
    Activate(dialog);
    dialog.Control(1009)->setFocus(Qt::OtherFocusReason);  // the toolkit would come back here
    EXPECT_EQ(TabFrom(dialog, 1004), 1007);
    EXPECT_EQ(TabFrom(dialog, 1010, false), 1007);
}

TEST_F(KeyboardTest, TheParameterDialogGroupsToo) {
    store.WriteProfileInt(settings::kParameter, "AusgabeTyp", 2);
    store.WriteProfileInt(settings::kParameter, settings::kAusgabeDateiTyp, 1);
    CParameterDialog dialog(store);
    Activate(dialog);
    EXPECT_EQ(TabFrom(dialog, 1030), 1026);  // "PNG (ohne Kompression)"
    EXPECT_EQ(Tab(dialog), 1017);            // "Namen nach Muster bilden"
    EXPECT_EQ(Tab(dialog, false), 1026);
}

TEST_F(KeyboardTest, AFilledListIsOneTabStop) {
    const std::string folder = dir / "Bilder";
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.jpg", "b.jpg"}) test::WriteImage(folder + "/" + name, 16, 12);
    CMainDialog dialog(store);
    Activate(dialog);
    dialog.OnDropFiles({folder});
    dialog.FileList()->setCurrentCell(0, 0);
    EXPECT_EQ(TabFrom(dialog, 1001), 1);  // on to "Komprimieren", not into the next cell
    EXPECT_EQ(TabFrom(dialog, 1001, false), 1032);
}

TEST_F(KeyboardTest, DeleteRemovesTheSelectedRowsButNoFile) {
    const std::string folder = dir / "Bilder";
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) test::WriteImage(folder + "/" + name, 16, 12);
    CMainDialog dialog(store);
    Activate(dialog);
    dialog.OnDropFiles({folder});
    CFileListCtrl* list = dialog.FileList();
    ASSERT_EQ(list->rowCount(), 4);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);  // nothing selected: nothing goes
    EXPECT_EQ(list->rowCount(), 4);

    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->SetRowsLocked(true);  // as while a batch reads the rows
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->rowCount(), 4);
    list->SetRowsLocked(false);
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->RowPath(0), folder + "/b.jpg");
    EXPECT_EQ(list->RowPath(1), folder + "/d.jpg");
    EXPECT_EQ(test::FolderEntries(folder), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
    EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
}  // namespace qx::test
