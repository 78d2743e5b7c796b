// "cmake --install" puts the desktop entry and the icon where desktops look for them.
#include <gtest/gtest.h>

#include <QPixmap>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ui_test_support.h"

namespace qx::test {
namespace {

TEST(Install, DesktopEntryAndIcon) {
    App();
    ScratchDir prefix;
    const std::string command =
        "cmake --install \"" + std::string(QUENDRIX_BINARY_DIR) + "\" --prefix \"" + prefix.path() + "\" > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream entry(prefix / "share/applications/quendrix.desktop");
    ASSERT_TRUE(entry);
    std::stringstream text;
    text << entry.rdbuf();
    EXPECT_NE(text.str().find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.str().find("\nExec=quendrix %F\n"), std::string::npos);
    EXPECT_NE(text.str().find("\nIcon=quendrix\n"), std::string::npos);
    QPixmap icon(QString::fromStdString(prefix / "share/pixmaps/quendrix.xpm"));
    EXPECT_EQ(icon.size(), QSize(32, 32));
}

}  // namespace
}  // namespace qx::test
