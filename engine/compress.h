// One source image into one output image: load, target size by the size rule, no-enlarge test, redraw,
// encode with the quality Rate. Shared by the main window and the command line.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/imaging/imaging.h"
#include "engine/memory_budget.h"
#include "engine/report.h"
#include "engine/types.h"

namespace qx {

// Fits (width, height) into the box keeping the aspect ratio: the height fills the box first. Signed
// arithmetic with truncating division, its products taken in 64 bits so that wide sources do not wrap; it
// enlarges as readily as it shrinks. A pair with a 0 is left unchanged, and so is one that fits neither way.
void FitIntoBox(int32_t& width, int32_t& height, int32_t maxWidth, int32_t maxHeight);

struct TargetSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The size an image of (width, height) gets under the size rule of `settings` (Bildsize, Prozent, Breite,
// Hoehe). Percent: unsigned 32-bit product (wrapping) divided by 100. Box: FitIntoBox. Otherwise unchanged.
TargetSize ComputeTargetSize(const MainSettings& settings, uint32_t width, uint32_t height);

// The no-enlarge rule: an image is left alone unless it shrinks in at least one dimension.
bool IsLeftAloneByNoEnlarge(const MainSettings& settings, uint32_t width, uint32_t height, TargetSize target);

// Why a file failed, as one line for whoever can show more than the message: the reason's text from the
// string table, with the words of the codec library or the system after a colon where there are any.
std::string DescribeFailure(const imaging::Error& error);
// The same reason without the line around it: "Bilddaten fehlerhaft: ...".
std::string FailureText(const imaging::Error& error);

// The output formats whose encoder takes the quality (`takesQuality`) or not, by their descriptions as the
// window's texts list them: "JPG, WebP und AVIF"; with `hyphen` "-", as the first parts of compound words
// ("JPG-, WebP-, AVIF- und JPEG-XL" before "-Ausgabedateien").
std::string OutputFormatsInWords(bool takesQuality, const char* hyphen = "");

// Identity of a file on disk, the same through every name of it (symbolic and hard links).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};
// The identity of the file `path` names (links followed); false when there is none.
bool GetFileIdentity(const std::string& path, FileIdentity& identity);

// The part of the main window that compresses files: the size rule, quality and no-enlarge values, the
// counter of images left alone, and the message box for failures. CompressFile may run on many threads at
// once; the settings must not change while it does.
class Compressor {
public:
    Compressor(const MainSettings& settings, MessageBoxService& messages,
               MemoryBudget& budget = MemoryBudget::Process());

    // The options of section Erweitert for every later CompressFile; set before CompressFile runs on any
    // thread. Without a call every option is off.
    void SetOptions(const AdvancedSettings& options) { options_ = options; }

    // What became of one file, for whoever reports per file.
    struct Outcome {
        enum class Kind {
            Written,
            SkippedNoEnlarge,   // left alone by the no-enlarge rule
            SkippedNotSmaller,  // the output would not have been smaller than its source: not written
            Failed,
        };
        Kind kind = Kind::Failed;
        int quality = -1;          // the quality encoded with (below Rate when a size limit asked for it)
        int encodes = 0;           // encodes it took
        uint64_t bytes = 0;        // size of the output, also of one not written
        bool limitMissed = false;  // "Grenze nicht erreicht": not even quality 0 met the size limit
        float distance = -1;       // butteraugli distance of the output, when the quality was chosen by it
    };

    // True: the output was written, or the image was skipped (no-enlarge rule, or an output not smaller
    // than its source when that is asked for). False: the file failed and the user was told (string 106
    // with the source, or 105 with the target, and why) before the return. Without a format (nullptr)
    // there is nothing to save with: the file fails as a failed save. `outcome`, when given, says which.
    // `outcome`, when given, gets what the report shows of the file: the result, the pixel sizes, and a
    // failure's message and reason; `detail` the options' side of it.
    bool CompressFile(const std::string& sourcePath, const std::string& targetPath, const imaging::Codec* format,
                      FileOutcome* outcome = nullptr, Outcome* detail = nullptr);
    bool CompressFile(const std::string& sourcePath, const std::string& targetPath, const imaging::Codec* format,
                      Outcome* detail) {
        return CompressFile(sourcePath, targetPath, format, nullptr, detail);
    }

    enum class LoadResult {
        Ready,           // `bitmap` is to be encoded
        Skipped,         // left alone by the no-enlarge rule
        Unreadable,      // the source is not a readable image
        NoTargetBitmap,  // the target size cannot be made (0, too large, no memory): fails like a save
    };
    struct LoadedImage {
        LoadResult result = LoadResult::Unreadable;
        std::unique_ptr<imaging::Bitmap> bitmap;
        MemoryBudget::Lease lease;  // the memory the bitmap and its decode were granted, until it is saved
        imaging::Error error;       // why it is Unreadable or NoTargetBitmap
        uint32_t sourceWidth = 0, sourceHeight = 0;  // once the source has opened
        bool animated = false;                       // only the source's first frame was read
        TargetSize target;                           // once the size rule has been applied
    };
    // `format`, when given, is what the bitmap will be saved as: the memory that save will need is held in
    // the same budget as the decode.
    LoadedImage LoadAndScaleImage(const std::string& sourcePath, const imaging::Codec* format = nullptr);

    // Files that no target may name, whatever its path: the sources of the running batch. Set before
    // CompressFile runs on any thread.
    void ProtectFiles(std::vector<FileIdentity> identities);

    std::atomic<int32_t> SkippedCount{0};
    std::atomic<int32_t> SkippedNotSmallerCount{0};  // of SkippedCount: outputs not smaller than their sources
    std::atomic<int32_t> FailedCount{0};
    std::atomic<int32_t> WrittenCount{0};

private:
    bool Fail(int stringId, const std::string& path, const imaging::Error& error, FileOutcome* outcome);
    void DecodeAtSourceSize(std::unique_ptr<imaging::Bitmap> source, const imaging::Codec* format, LoadedImage& loaded);
    imaging::Bitmap::SaveOptions SaveOptionsFor(const std::string& sourcePath) const;
    // Memory a save of `pixels` in `format` needs besides the bitmap: the encoder's, and the measuring's.
    uint64_t SaveBytes(const imaging::Codec* format, uint64_t pixels) const;
    bool RepacksAtOwnSize(const imaging::Bitmap& source, const imaging::Codec* format, const TargetSize& target) const;
    // Saves a decoded image: 0 when written, a message's string id when it failed (`why` says why), or -1
    // when it was not written because it was not smaller than its source.
    int SaveReady(imaging::Bitmap& bitmap, const std::string& sourcePath, const std::string& targetPath,
                  const imaging::Codec* format, FileOutcome* outcome, Outcome& result, imaging::Error& why);
    bool TargetNamesASource(const std::string& sourcePath, const std::string& targetPath) const;

    const MainSettings& settings_;
    AdvancedSettings options_;
    MessageBoxService& messages_;
    MemoryBudget& budget_;
    std::vector<FileIdentity> protected_;  // sorted
    // The qualities the last few images chose by distance: their mean is where the next one's search starts,
    // as photos of one batch tend to need alike, and one odd photo should not send the next search astray.
    class RecentQualities {
    public:
        void Add(int quality);
        int Guess() const;  // -1 while there is none
    private:
        mutable std::mutex mutex_;
        std::array<int, 5> qualities_{};
        size_t next_ = 0;   // where the next answer goes
        size_t known_ = 0;  // answers held, up to five
    } recentQualities_;
};

}  // namespace qx
