// The windows from the keyboard: Tab into radio groups, Delete in the file list.
#include <QAbstractButton>
#include <QTest>

#include "settings/settings.h"
#include "support/images.h"
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

    EXPECT_EQ(TabFrom(dialog, res::kMainBrowse), res::kMainSizeLikeSource);  // "wie Quelldatei", not "Prozent"
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(dialog.ControlAs<QAbstractButton>(res::kMainSizeLikeSource)->isChecked());  // Space changed nothing
    EXPECT_EQ(Tab(dialog), res::kMainRate);  // and the next Tab leaves the group
    EXPECT_EQ(Tab(dialog, false), res::kMainSizeLikeSource);
    EXPECT_EQ(Tab(dialog, false), res::kMainBrowse);
    EXPECT_EQ(Tab(dialog, false), res::kMainTargetFolder);
    EXPECT_EQ(Tab(dialog, false),
              res::kMainTargetOwnFolder);  // backwards into the target group: its checked button too
    EXPECT_EQ(TabFrom(dialog, res::kCancelButton),
              res::kMainTargetOwnFolder);  // Tab from the last control wraps into the same group

    // Checking another button moves the group's stop with it.
    dialog.ControlAs<QAbstractButton>(res::kMainSizeBox)->click();
    EXPECT_EQ(TabFrom(dialog, res::kMainBrowse), res::kMainSizeBox);
    EXPECT_EQ(Tab(dialog), res::kMainWidth);
    EXPECT_EQ(Tab(dialog), res::kMainHeight);
    EXPECT_EQ(Tab(dialog), res::kMainRate);
}

TEST_F(KeyboardTest, TabIntoAGroupWithoutACheckedButtonLandsOnItsFirst) {
    store.WriteProfileInt("Allg", "ZielPath", 1);
    store.WriteProfileInt("Allg", "Bildsize", 5);
    CMainDialog dialog(store);
    Activate(dialog);
    dialog.Control(res::kMainSizeLikeSource)->setFocus(Qt::OtherFocusReason);  // the toolkit would come back here
    EXPECT_EQ(TabFrom(dialog, res::kMainBrowse), res::kMainSizePercent);
    EXPECT_EQ(TabFrom(dialog, res::kMainPercent, false), res::kMainSizePercent);
}

TEST_F(KeyboardTest, TheParameterDialogGroupsToo) {
    store.WriteProfileInt(settings::kParameter, "AusgabeTyp", 2);
    store.WriteProfileInt(settings::kParameter, settings::kAusgabeDateiTyp, 1);
    CParameterDialog dialog(store);
    Activate(dialog);
    EXPECT_EQ(TabFrom(dialog, res::kParameterAcceptPng), res::kParameterOutputPng);
    EXPECT_EQ(Tab(dialog), res::kParameterNamesByPattern);
    EXPECT_EQ(Tab(dialog, false), res::kParameterOutputPng);
}

TEST_F(KeyboardTest, AFilledListIsOneTabStop) {
    const std::string folder = dir / "Bilder";
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.jpg", "b.jpg"}) test::WriteImage(folder + "/" + name, 16, 12);
    CMainDialog dialog(store);
    Activate(dialog);
    dialog.OnDropFiles({folder});
    dialog.FileList()->setCurrentCell(0, 0);
    EXPECT_EQ(TabFrom(dialog, res::kMainFileList), res::kOkButton);  // on to "Komprimieren", not into the next cell
    EXPECT_EQ(TabFrom(dialog, res::kMainFileList, false), res::kMainNoEnlarge);
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
