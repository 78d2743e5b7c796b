// quendrix-batch over whole collections: lists of files, shards run side by side by GNU parallel, kept trees.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/options.h"
#include "engine/output_ledger.h"
#include "support/child_process.h"
#include "support/images.h"

namespace qx::test {
namespace {

class CollectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings = dir / "quendrix.ini";
        WriteBytes(settings, "[Parameter]\nThreadAnzahl=2\n");
    }
    // Through the shell, so that standard input and GNU parallel can be used as a user would.
    RunResult Shell(const std::string& script) {
        return RunChild("/bin/sh", {.args = {"-c", script}, .timeoutSeconds = 600});
    }
    std::string Batch() const { return std::string(kBatchProgram) + " --settings " + settings + " --quiet "; }

    ScratchDir dir;
    std::string settings;
};

// Every file below `folder` with its bytes.
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : test::Tree(folder))
        if (std::filesystem::is_regular_file(folder + "/" + name)) files[name] = ReadBytes(folder + "/" + name);
    return files;
}

// The lines of the reports, the target folder's path taken out, sorted.
std::vector<std::string> ReportLines(const std::vector<std::string>& reports, const std::string& targetFolder) {
    std::vector<std::string> lines;
    for (const std::string& report : reports) {
        std::istringstream in(ReadBytes(report));
        for (std::string line; std::getline(in, line);) {
            for (size_t at; !targetFolder.empty() && (at = line.find(targetFolder)) != std::string::npos;)
                line.replace(at, targetFolder.size(), "ZIEL");
            lines.push_back(line);
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(CollectionTest, FourShardsRunByParallelGiveExactlyOneRunsOutputsAndReport) {
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i) {
        const std::string folder = dir / ("Archiv/" + std::to_string(2000 + i % 7) + "/" + std::to_string(i % 5));
        std::filesystem::create_directories(folder);
        WriteImage(folder + "/bild" + std::to_string(i) + ".png", 2 + i % 3, 2, "png");
    }
    const std::string options = Batch() + "--keep-tree --skip-existing --size percent:50 --enlarge ";
    const RunResult one =
        Shell(options + "--target-folder " + dir / "eins --report " + dir / "eins.jsonl " + dir / "Archiv");
    ASSERT_TRUE(one.Exited(0)) << test::Describe(one);
    const RunResult shards = Shell("parallel --will-cite -j 4 " + options + "--shard {}/4 --target-folder " +
                                   dir / "vier" + " --report " + dir / "vier-{}.jsonl " + dir / "Archiv ::: 1 2 3 4");
    ASSERT_TRUE(shards.Exited(0)) << test::Describe(shards);

    const auto expected = Contents(dir / "eins");
    EXPECT_EQ(expected.size(), size_t{kFiles});
    EXPECT_TRUE(Contents(dir / "vier") == expected) << "same names, same bytes";
    const auto lines = ReportLines({dir / "eins.jsonl"}, dir / "eins");
    ASSERT_EQ(lines.size(), size_t{kFiles});
    std::vector<std::string> parts;
    for (int k = 1; k <= 4; ++k) parts.push_back(dir / ("vier-" + std::to_string(k) + ".jsonl"));
    EXPECT_EQ(ReportLines(parts, dir / "vier"), lines) << "each file done once, by one shard";
    for (const std::string& part : parts) EXPECT_GT(ReportLines({part}, "").size(), size_t{kFiles / 8}) << part;

    // A shard run again finds its part done.
    const RunResult again =
        Shell(options + "--shard 3/4 --target-folder " + dir / "vier --report " + dir / "noch.jsonl " + dir / "Archiv");
    ASSERT_TRUE(again.Exited(0)) << test::Describe(again);
    for (const std::string& line : ReportLines({dir / "noch.jsonl"}, dir / "vier"))
        EXPECT_NE(line.find("Ziel bereits vorhanden"), std::string::npos) << line;
}

TEST_F(CollectionTest, ListsOfFilesByLineOrNulFromAFileOrStandardInput) {
    std::filesystem::create_directories(dir / "q");
    for (const char* name : {"a.png", "b c.png", "d\nzeile.png"}) WriteImage(dir / "q/" + name, 4, 4, "png");
    WriteBytes(dir / "zeilen.txt", dir / "q/a.png\n\n" + dir / "q/b c.png\n");
    const std::string nul = dir / "q/b c.png" + '\0' + dir / "q/d\nzeile.png" + '\0';
    WriteBytes(dir / "nul.lst", nul);
    struct Case {
        std::string arguments;
        std::vector<std::string> outputs;
    };
    const Case cases[] = {
        {"--files-from " + dir / "zeilen.txt", {"a.jpg", "b c.jpg"}},
        {"-0 --files-from - < " + dir / "nul.lst", {"b c.jpg", "d\nzeile.jpg"}},
        {"--null --files-from " + dir / "nul.lst " + dir / "q/a.png", {"a.jpg", "b c.jpg", "d\nzeile.jpg"}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir / "aus");
        const RunResult r = Shell(Batch() + "--target-folder " + dir / "aus " + c.arguments);
        EXPECT_TRUE(r.Exited(0)) << c.arguments << test::Describe(r);
        EXPECT_EQ(test::FolderEntries(dir / "aus"), c.outputs) << c.arguments;
    }
}

TEST_F(CollectionTest, BadListsAndShardsStopBeforeAnyFileIsTouched) {
    std::filesystem::create_directories(dir / "q");
    WriteImage(dir / "q/a.png", 4, 4, "png");
    const std::pair<std::string, std::string> cases[] = {
        {"--files-from " + dir / "fehlt.txt", "--files-from \"" + dir / "fehlt.txt\": Liste nicht lesbar"},
        {"--shard 0/4", "--shard \"0/4\": erwartet K/N"},
        {"--shard 5/4", "--shard \"5/4\": erwartet K/N"},
        {"--shard 2", "--shard \"2\": erwartet K/N"},
        {"--shard 1/4 --names pattern", "--shard geht nicht mit --names pattern"},
    };
    for (const auto& [arguments, message] : cases) {
        const RunResult r = Shell(Batch() + "--target-folder " + dir / "aus " + arguments + " " + dir / "q");
        EXPECT_TRUE(r.Exited(2)) << arguments << test::Describe(r);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(test::Exists(dir / "aus")) << arguments;
    }
}

TEST(Shards, EveryKeyFallsIntoExactlyOneShardByAFixedHash) {
    EXPECT_EQ(Fnv1a64(""), 14695981039346656037ull);
    EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);  // the published FNV-1a test vector
    FileRow walked;
    walked.path = "/mnt/rechner7/Urlaub/2024/a.jpg";
    walked.subfolder = "Urlaub/2024/";
    EXPECT_EQ(cli::ShardKey(walked), "Urlaub/2024/a.jpg") << "the same wherever the folder is mounted";
    for (int i = 0; i < 100; ++i) {
        const std::string key = "Urlaub/" + std::to_string(i) + ".jpg";
        int shards = 0;
        for (uint32_t k = 1; k <= 3; ++k) shards += cli::InShard(key, {k, 3});
        EXPECT_EQ(shards, 1) << key;
    }
}

}  // namespace
}  // namespace qx::test
