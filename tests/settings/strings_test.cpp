#include <gtest/gtest.h>

#include "res/strings.h"

namespace {

TEST(StringTable, FormatsMessagesWithThePath) {
    EXPECT_EQ(qx::res::FormatString(qx::res::IDS_NOT_AN_IMAGE, "/tmp/a.jpg"), "Keine gültige Bilddatei: /tmp/a.jpg");
    EXPECT_EQ(qx::res::FormatString(qx::res::IDS_SAVE_FAILED, "x%s.jpg"),
              "Beim Erzeugen der Zieldatei: x%s.jpg ist ein Fehler aufgetreten.");
    EXPECT_EQ(qx::res::FormatString(qx::res::IDS_SKIPPED_REPORT, 10),
              "10 Bilder wurden nicht komprimiert.\n\nMögliche Gründe:\nBildgröße zu klein.");
    EXPECT_EQ(qx::res::LoadString(4711), "");
}

}  // namespace
