// File intake: dropped files and folders, filtered by input type, probed and turned into list rows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx {

struct InputTypeFlags {
    bool Bmp = true;
    bool Jpg = true;
    bool Png = true;
};

// The three cells of a file-list row; `path` holds the exact bytes of the source path.
struct FileRow {
    std::string path;
    std::string sizeCell;      // "640 * 480"
    std::string fileSizeCell;  // "1,50 KB"
};

// Receives every accepted file as it is found, so that a window can show rows while a large folder is walked.
using RowSink = std::function<void(const FileRow&)>;

// Handles the dropped paths in order: folders are walked recursively, files are probed and added.
void OnDropFiles(const std::vector<std::string>& droppedPaths, const InputTypeFlags& flags, const RowSink& sink);

// Reads width and height without decoding the pixels.
bool ProbeImageSize(const std::string& path, uint32_t& width, uint32_t& height);

}  // namespace qx
