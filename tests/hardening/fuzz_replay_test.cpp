// Replays what the fuzz targets keep (fuzz/regressions/, and the settings seeds) through the targets' own
// code, so that an input that once failed stays fixed. A broken invariant ends the program, as in the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define LLVMFuzzerTestOneInput FuzzImageInput
#include "fuzz/image_fuzzer.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput FuzzProfileInput
#include "fuzz/profile_fuzzer.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() != ".md") files.push_back(it->path().string());
    }
    return files;
}

std::string Bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Replay(const std::string& folder, int (*target)(const uint8_t*, size_t)) {
    for (const std::string& path : FilesBelow(folder)) {
        SCOPED_TRACE(path);
        const std::string bytes = Bytes(path);
        target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

const std::string kFuzz = QUENDRIX_SOURCE_DIR "/fuzz";

TEST(FuzzReplay, KeptImageInputs) {
    for (const char* format : {"jpeg", "png", "bmp"}) Replay(kFuzz + "/regressions/" + format, FuzzImageInput);
}

TEST(FuzzReplay, KeptSettingsInputs) {
    Replay(kFuzz + "/regressions/profile", FuzzProfileInput);
    Replay(kFuzz + "/seeds/profile", FuzzProfileInput);
    EXPECT_FALSE(FilesBelow(kFuzz + "/seeds/profile").empty());
}

}  // namespace
