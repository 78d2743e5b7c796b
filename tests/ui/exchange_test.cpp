// Text fields keep the exact bytes of what they were given: a target folder whose name is not valid UTF-8.
#include <QLineEdit>

#include "ui/main_dialog.h"
#include "ui/parameter_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class ExchangeBytesTest : public WindowTest {};

TEST_F(ExchangeBytesTest, TargetFolderThatIsNotUtf8SurvivesTheWindow) {
    const std::string folder = dir / "ziel\xff\xfe";
    store.WriteProfileStringA("Allg", "Verz", folder);
    {
        CMainDialog dialog(store);
        ASSERT_TRUE(dialog.ExchangeAndValidate());
        EXPECT_EQ(dialog.Values().Verz, folder);  // what a batch would write into
    }
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), folder);

    // Once the user types a new folder, the typed text counts.
    {
        CMainDialog dialog(store);
        dialog.ControlAs<QLineEdit>(res::kMainTargetFolder)->setText(QString::fromUtf8("/tmp/größer"));
    }
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""),
              "/tmp/gr\xc3\xb6\xc3\x9f"
              "er");
}

TEST_F(ExchangeBytesTest, PrefixThatIsNotUtf8IsStoredAsItWas) {
    store.WriteProfileStringA("Parameter", "Prefix", "Bild\xe4_");
    CParameterDialog dialog(store);
    dialog.OnOK();
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", ""), "Bild\xe4_");
}

}  // namespace
}  // namespace qx::test
