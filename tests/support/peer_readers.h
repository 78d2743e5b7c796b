// Peer programs that read our outputs, run as child processes.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "support/child_process.h"
#include "support/test_support.h"

namespace qx::test {

// Which installed peer reads image format `format` ("WEBP", "AVIF"): "identify" (ImageMagick) or "pillow";
// empty when none does, so that a test can skip that check rather than fail.
inline std::string PeerReaderFor(const std::string& format) {
    if (Exists("/usr/bin/identify")) {
        // Lines such as "     WEBP* WEBP      rw+   WebP Image Format (libwebp 1.2.4 [020F])".
        const RunResult list = RunChild("/usr/bin/identify", {.args = {"-list", "format"}});
        size_t start = 0;
        while (start < list.out.size()) {
            const size_t end = std::min(list.out.find('\n', start), list.out.size());
            char name[64] = {}, module[64] = {}, mode[8] = {};
            if (std::sscanf(list.out.substr(start, end - start).c_str(), "%63s %63s %7s", name, module, mode) == 3) {
                std::string word = name;
                if (!word.empty() && word.back() == '*') word.pop_back();
                if (word == format && mode[0] == 'r') return "identify";
            }
            start = end + 1;
        }
    }
    if (Exists("/usr/bin/python3")) {
        std::string feature = format;
        std::transform(feature.begin(), feature.end(), feature.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const RunResult check = RunChild(
            "/usr/bin/python3",
            {.args = {"-c", "import sys\nfrom PIL import features\nsys.exit(0 if features.check(sys.argv[1]) else 1)",
                      feature}});
        if (check.Exited(0)) return "pillow";
    }
    return "";
}

// Width and height of every pixel of `path` decoded by `reader` (from PeerReaderFor) in a child process;
// nothing when it cannot read the file.
inline std::optional<std::pair<uint32_t, uint32_t>> PeerDecodedSize(const std::string& reader,
                                                                    const std::string& path) {
    RunResult r;
    if (reader == "identify") {
        r = RunChild("/usr/bin/identify", {.args = {"-format", "%w %h", path}});
    } else if (reader == "pillow") {
        r = RunChild("/usr/bin/python3", {.args = {"-c",
                                                   "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
                                                   "im.load()\nprint(im.size[0], im.size[1])",
                                                   path}});
    }
    unsigned width = 0, height = 0;
    if (!r.Exited(0) || std::sscanf(r.out.c_str(), "%u %u", &width, &height) != 2) return std::nullopt;
    return std::make_pair(width, height);
}

}  // namespace qx::test
