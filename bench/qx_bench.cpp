// The main job through the imaging layer: fit each file into a box, draw, save as JPEG; N files at once.
// Usage: qx_bench [--threads N] [--box WxH] [--quality Q] --out FOLDER FILE...
// Prints one JSON line: files, failures, seconds, images per second.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/imaging/imaging.h"

namespace {

using namespace qx::imaging;

// Fit into the box keeping the aspect ratio; the height fills the box first.
void Fit(uint32_t& w, uint32_t& h, int32_t boxW, int32_t boxH) {
    if (w == 0 || h == 0) return;
    const int32_t cw = static_cast<int32_t>(int64_t{w} * boxH / h);
    if (cw <= boxW) {
        w = static_cast<uint32_t>(cw);
        h = static_cast<uint32_t>(boxH);
        return;
    }
    const int32_t ch = static_cast<int32_t>(int64_t{h} * boxW / w);
    if (ch <= boxH) {
        w = static_cast<uint32_t>(boxW);
        h = static_cast<uint32_t>(ch);
    }
}

bool ProcessOne(const std::string& source, const std::string& target, int32_t boxW, int32_t boxH, int quality,
                const Codec& jpeg) {
    std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile(source);
    if (!bitmap) return false;
    uint32_t w = bitmap->Width(), h = bitmap->Height();
    Fit(w, h, boxW, boxH);
    std::unique_ptr<Bitmap> scaled = Bitmap::CreateArgb(w, h);
    if (!scaled) return false;
    Graphics graphics(*scaled);
    if (!graphics.DrawImage(*bitmap, 0, 0, static_cast<int>(w), static_cast<int>(h))) return false;
    bitmap.reset();
    return scaled->Save(target, jpeg, quality);
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 2;
    int32_t boxW = 640, boxH = 480;
    int quality = 80;
    std::string out;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if (arg == "--box" && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &boxW, &boxH);
        else if (arg == "--quality" && i + 1 < argc)
            quality = std::clamp(std::atoi(argv[++i]), 0, 100);
        else if (arg == "--out" && i + 1 < argc)
            out = argv[++i];
        else
            files.push_back(arg);
    }
    if (out.empty() || files.empty() || threads < 1) {
        std::fprintf(stderr, "usage: qx_bench [--threads N] [--box WxH] [--quality Q] --out FOLDER FILE...\n");
        return 2;
    }
    const Codec& jpeg = *FindCodecByName("jpg");
    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (size_t i = next++; i < files.size(); i = next++) {
                const std::string& source = files[i];
                const size_t slash = source.rfind('/');
                std::string name = source.substr(slash == std::string::npos ? 0 : slash + 1);
                name = name.substr(0, name.rfind('.')) + ".jpg";
                if (!ProcessOne(source, out + "/" + name, boxW, boxH, quality, jpeg)) ++failures;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("{\"files\": %zu, \"failures\": %d, \"seconds\": %.4f, \"images_per_second\": %.3f}\n", files.size(),
                failures.load(), seconds, files.size() / seconds);
    return failures.load() == 0 ? 0 : 1;
}
