// Feeds a fuzz target the files named on its command line (a folder: every file below it but notes), once
// each. It stands in for libFuzzer where the compiler has none, and replays the seeds and kept inputs in the
// test suite. A broken invariant ends the program as it would end the fuzzer.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void AddInputs(const std::filesystem::path& path, std::vector<std::filesystem::path>& inputs) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return;  // no input kept for this target yet
    if (!std::filesystem::is_directory(path, ec)) {
        inputs.push_back(path);
        return;
    }
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() != ".md") inputs.push_back(it->path());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool requireSome = false;
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--require-some") == 0) {
            requireSome = true;
        } else {
            AddInputs(argv[i], inputs);
        }
    }
    int taken = 0;
    for (const auto& input : inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 2;
        }
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // A target answers -1 for an input it does not take (another format's file).
        if (LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) != -1) ++taken;
    }
    std::printf("%zu inputs, %d taken by the target\n", inputs.size(), taken);
    return requireSome && taken == 0 ? 1 : 0;
}
