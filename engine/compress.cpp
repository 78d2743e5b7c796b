#include "engine/compress.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <numeric>

#include "engine/output_ledger.h"
#include "res/strings.h"

namespace qx {
namespace {

int ReasonStringId(imaging::Failure failure) {
    using imaging::Failure;
    switch (failure) {
        case Failure::None: break;
        case Failure::OpenFailed: return res::IDS_REASON_OPEN_FAILED;
        case Failure::NotAFile: return res::IDS_REASON_NOT_A_FILE;
        case Failure::UnknownFormat: return res::IDS_REASON_UNKNOWN_FORMAT;
        case Failure::BadHeader: return res::IDS_REASON_BAD_HEADER;
        case Failure::TooLarge: return res::IDS_REASON_TOO_LARGE;
        case Failure::BrokenData: return res::IDS_REASON_BROKEN_DATA;
        case Failure::SourceChanged: return res::IDS_REASON_SOURCE_CHANGED;
        case Failure::OutOfMemory: return res::IDS_REASON_OUT_OF_MEMORY;
        case Failure::BadSize: return res::IDS_REASON_BAD_SIZE;
        case Failure::NoEncoder: return res::IDS_REASON_NO_ENCODER;
        case Failure::TargetIsSource: return res::IDS_REASON_TARGET_IS_SOURCE;
        case Failure::CreateFailed: return res::IDS_REASON_CREATE_FAILED;
        case Failure::EncodeFailed: return res::IDS_REASON_ENCODE_FAILED;
        case Failure::WriteFailed: return res::IDS_REASON_WRITE_FAILED;
        case Failure::Abandoned: return res::IDS_REASON_ABANDONED;
        case Failure::Truncated: return res::IDS_REASON_TRUNCATED;
    }
    return 0;
}

}  // namespace

std::string FailureText(const imaging::Error& error) {
    std::string text = res::LoadString(ReasonStringId(error.failure));
    if (text.empty()) text = imaging::FailureName(error.failure);
    if (!error.detail.empty()) text += ": " + error.detail;
    return text;
}

std::string OutputFormatsInWords(bool takesQuality, const char* hyphen) {
    std::vector<std::string> names;
    for (const imaging::Codec& codec : imaging::Codecs()) {
        if (codec.outputType < 0 || codec.takesQuality != takesQuality) continue;
        std::string name = codec.description;
        // A name of two words is hyphenated through as the first part of a compound: "JPEG-XL-Ausgabedateien".
        if (*hyphen != '\0') std::replace(name.begin(), name.end(), ' ', '-');
        names.push_back(name);
    }
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " und " : ", ";
        text += names[i] + (i + 1 < names.size() ? hyphen : "");
    }
    return text;
}

std::string DescribeFailure(const imaging::Error& error) {
    return res::FormatString(res::IDS_REASON_LINE, FailureText(error));
}

Compressor::Compressor(const MainSettings& settings, MessageBoxService& messages, MemoryBudget& budget)
    : settings_(settings), messages_(messages), budget_(budget) {}

void Compressor::ProtectFiles(std::vector<FileIdentity> identities) {
    std::sort(identities.begin(), identities.end());
    identities.erase(std::unique(identities.begin(), identities.end()), identities.end());
    protected_ = std::move(identities);
}

void Compressor::DecodeAtSourceSize(std::unique_ptr<imaging::Bitmap> source, const imaging::Codec* format,
                                    LoadedImage& loaded) {
    // Saved at its own size without a redraw; the decode happens here so that broken data counts as an
    // unreadable source, not as a failed save.
    const uint32_t width = source->Width(), height = source->Height();
    loaded.lease = budget_.Acquire(source->DecodeBytesFor(width, height) + SaveBytes(format, uint64_t{width} * height));
    if (!source->Decode(&loaded.error)) {
        loaded.lease.Release();
        return;
    }
    loaded.result = LoadResult::Ready;
    loaded.bitmap = std::move(source);
}

// A JPEG repacked into JPEG XL at its own size keeps the file's pixels, whichever size rule gave that size: it
// is not redrawn.
bool Compressor::RepacksAtOwnSize(const imaging::Bitmap& source, const imaging::Codec* format,
                                  const TargetSize& target) const {
    return options_.JpegVerlustfreiUmpacken != 0 && format != nullptr && format == imaging::FindCodecByName("jxl") &&
           source.Format() == imaging::FindCodecByName("jpg") && target.width == source.Width() &&
           target.height == source.Height();
}

Compressor::LoadedImage Compressor::LoadAndScaleImage(const std::string& sourcePath, const imaging::Codec* format) {
    LoadedImage loaded;
    std::unique_ptr<imaging::Bitmap> source = imaging::Bitmap::FromFile(sourcePath, &loaded.error);
    if (!source) return loaded;  // Unreadable

    const uint32_t width = source->Width();
    const uint32_t height = source->Height();
    const TargetSize target = ComputeTargetSize(settings_, width, height);
    loaded.sourceWidth = width;
    loaded.sourceHeight = height;
    loaded.animated = source->IsAnimated();
    loaded.target = target;

    if (IsLeftAloneByNoEnlarge(settings_, source->Width(), source->Height(), target)) {
        loaded.result = LoadResult::Skipped;
        return loaded;
    }

    if (settings_.Bildsize == kSizeSource || RepacksAtOwnSize(*source, format, target)) {
        DecodeAtSourceSize(std::move(source), format, loaded);
        return loaded;
    }

    // A 0, or a negative size from the box fit's 32-bit arithmetic, or more pixels than any bitmap may have:
    // no target bitmap can exist, which is known without decoding or holding memory back.
    const uint64_t targetPixels = uint64_t{target.width} * target.height;
    if (target.width == 0 || target.height == 0 || target.width > INT32_MAX || target.height > INT32_MAX ||
        targetPixels > imaging::kMaxPixels) {
        loaded.result = LoadResult::NoTargetBitmap;
        loaded.error = {imaging::Failure::BadSize,
                        std::to_string(target.width) + " x " + std::to_string(target.height)};
        return loaded;
    }

    loaded.lease = budget_.Acquire(source->DecodeBytesFor(target.width, target.height) + targetPixels * 4 +
                                   SaveBytes(format, targetPixels));
    std::unique_ptr<imaging::Bitmap> scaled = imaging::Bitmap::CreateArgb(target.width, target.height);
    if (!scaled) {
        loaded.lease.Release();
        loaded.result = LoadResult::NoTargetBitmap;
        loaded.error = {imaging::Failure::BadSize,
                        std::to_string(target.width) + " x " + std::to_string(target.height)};
        return loaded;
    }
    imaging::Graphics graphics(*scaled);
    if (!graphics.DrawImage(*source, 0, 0, static_cast<int>(target.width), static_cast<int>(target.height),
                            &loaded.error)) {
        loaded.lease.Release();
        return loaded;  // Unreadable: the pixels cannot be decoded
    }
    loaded.result = LoadResult::Ready;
    loaded.bitmap = std::move(scaled);
    return loaded;
}

bool Compressor::TargetNamesASource(const std::string& sourcePath, const std::string& targetPath) const {
    FileIdentity target;
    if (!GetFileIdentity(targetPath, target)) return false;  // nothing there yet
    FileIdentity source;
    if (GetFileIdentity(sourcePath, source) && source == target) return true;
    return std::binary_search(protected_.begin(), protected_.end(), target);
}

bool Compressor::Fail(int stringId, const std::string& path, const imaging::Error& error, FileOutcome* outcome) {
    ++FailedCount;
    const std::string message = res::FormatString(stringId, path);
    if (outcome != nullptr) {
        outcome->result = FileResult::Failed;
        outcome->message = message;
        outcome->reason = FailureText(error);
        outcome->failure = error.failure;
        outcome->widthAfter = outcome->heightAfter = 0;  // nothing was written
    }
    messages_.ShowFailure(message, DescribeFailure(error));
    return false;
}

namespace {

// The source's modification time onto the output; a failure here leaves a good output with its own time.
void CopyModificationTime(const std::string& sourcePath, const std::string& targetPath) {
    struct stat status {};
    if (::stat(sourcePath.c_str(), &status) != 0) return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, status.st_mtim};
    ::utimensat(AT_FDCWD, targetPath.c_str(), times, 0);
}

// SaveReady's answer for an output not written because it was not smaller than its source.
constexpr int kNotSmaller = -1;

}  // namespace

uint64_t Compressor::SaveBytes(const imaging::Codec* format, uint64_t pixels) const {
    if (format == nullptr) return 0;
    const bool measures = options_.AutoQualitaet > 0 && format->takesQuality;
    return pixels * format->encodeBytesPerPixel + (measures ? imaging::DistanceSearchBytes(pixels) : 0);
}

void Compressor::RecentQualities::Add(int quality) {
    const std::lock_guard<std::mutex> lock(mutex_);
    qualities_[next_] = quality;
    next_ = (next_ + 1) % qualities_.size();
    known_ = std::min(known_ + 1, qualities_.size());
}

int Compressor::RecentQualities::Guess() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (known_ == 0) return -1;
    const int sum = std::accumulate(qualities_.begin(), qualities_.begin() + static_cast<std::ptrdiff_t>(known_), 0);
    const int known = static_cast<int>(known_);
    return (sum + known / 2) / known;
}

imaging::Bitmap::SaveOptions Compressor::SaveOptionsFor(const std::string& sourcePath) const {
    imaging::Bitmap::SaveOptions how;
    how.quality = static_cast<int>(std::min<uint32_t>(settings_.Rate, 100));
    how.keepMetadata = options_.MetadatenUebernehmen != 0;
    how.dropGps = options_.GpsEntfernen != 0;
    how.repackJpeg = options_.JpegVerlustfreiUmpacken != 0;
    how.jpegBaseline = options_.JpegBaseline != 0;
    if (options_.MaxKBAktiv != 0 && options_.MaxKB > 0) how.maxBytes = uint64_t(options_.MaxKB) * 1024;
    if (options_.AutoQualitaet > 0) {
        how.maxDistance = static_cast<float>(options_.AutoQualitaet) / 10;
        how.qualityGuess = recentQualities_.Guess();
    }
    struct stat source {};
    if (options_.NurWennKleiner != 0 && ::stat(sourcePath.c_str(), &source) == 0)
        how.onlyBelowBytes = source.st_size > 0 ? uint64_t(source.st_size) : 1;
    return how;
}

int Compressor::SaveReady(imaging::Bitmap& bitmap, const std::string& sourcePath, const std::string& targetPath,
                          const imaging::Codec* format, FileOutcome* outcome, Outcome& result, imaging::Error& why) {
    // A target that is the source itself (or another source of the batch), under whatever name, would be
    // replaced by the output: refused like a failed save.
    if (format == nullptr) {
        why = {imaging::Failure::NoEncoder, {}};
        return res::IDS_SAVE_FAILED;
    }
    if (TargetNamesASource(sourcePath, targetPath)) {
        why = {imaging::Failure::TargetIsSource, {}};
        return res::IDS_SAVE_FAILED;
    }
    const imaging::Bitmap::SaveOptions how = SaveOptionsFor(sourcePath);
    imaging::Bitmap::SaveOutcome saved;
    const bool ok = bitmap.Save(targetPath, *format, how, &saved, &why);
    result.quality = saved.quality;
    result.encodes = saved.encodes;
    result.bytes = saved.bytes;
    result.limitMissed = saved.limitMissed;
    result.distance = saved.distance;
    if (saved.distance >= 0 && !saved.limitWon) recentQualities_.Add(saved.quality);
    if (!ok && saved.notSmaller) {
        ++SkippedCount;
        ++SkippedNotSmallerCount;
        result.kind = Outcome::Kind::SkippedNotSmaller;
        if (outcome != nullptr) {
            outcome->result = FileResult::Skipped;
            outcome->reason = res::LoadString(res::IDS_SKIPPED_NOT_SMALLER);
        }
        return kNotSmaller;
    }
    if (!ok) return res::IDS_SAVE_FAILED;
    if (options_.DatumUebernehmen != 0) CopyModificationTime(sourcePath, targetPath);
    if (options_.EigeneAusgabenUeberspringen != 0) RecordOutput(targetPath);
    // The size the encoder wrote: another program may replace the target at any time.
    if (outcome != nullptr) {
        outcome->bytesAfter = static_cast<int64_t>(saved.bytes);
        outcome->quality = format->takesQuality ? saved.quality : -1;
        outcome->distance = saved.distance;
        if (saved.limitWon) outcome->reason = res::LoadString(res::IDS_LIMIT_WON);
    }
    if (how.maxBytes > 0 && outcome != nullptr) {
        outcome->sizeLimit = !format->takesQuality ? SizeLimit::NotApplicable
                             : saved.limitMissed   ? SizeLimit::Missed
                                                   : SizeLimit::Met;
    }
    return 0;
}

bool Compressor::CompressFile(const std::string& sourcePath, const std::string& targetPath,
                              const imaging::Codec* format, FileOutcome* outcome, Outcome* detail) {
    Outcome unused;
    Outcome& result = detail != nullptr ? *detail : unused;
    result = Outcome{};
    // Images and their memory are let go before a message is shown, so that a box waiting for the user
    // does not hold memory back from the other workers.
    int failure = 0;
    imaging::Error why;
    try {
        LoadedImage loaded = LoadAndScaleImage(sourcePath, format);
        why = std::move(loaded.error);
        if (outcome != nullptr) {
            outcome->widthBefore = loaded.sourceWidth;
            outcome->heightBefore = loaded.sourceHeight;
            if (loaded.bitmap) {
                outcome->widthAfter = loaded.bitmap->Width();
                outcome->heightAfter = loaded.bitmap->Height();
            }
        }
        switch (loaded.result) {
            case LoadResult::Skipped:
                ++SkippedCount;
                if (outcome != nullptr) {
                    outcome->result = FileResult::Skipped;
                    outcome->reason = res::LoadString(res::IDS_SKIPPED_NO_ENLARGE);
                }
                result.kind = Outcome::Kind::SkippedNoEnlarge;
                return true;
            case LoadResult::Unreadable: failure = res::IDS_NOT_AN_IMAGE; break;
            case LoadResult::NoTargetBitmap: failure = res::IDS_SAVE_FAILED; break;
            case LoadResult::Ready:
                failure = SaveReady(*loaded.bitmap, sourcePath, targetPath, format, outcome, result, why);
                if (failure == kNotSmaller) return true;
                if (failure == 0 && loaded.animated && outcome != nullptr) {
                    const std::string& note = res::LoadString(res::IDS_FIRST_FRAME_ONLY);
                    outcome->reason = outcome->reason.empty() ? note : outcome->reason + "; " + note;
                }
                break;
        }
    } catch (const std::exception&) {
        // Out of memory somewhere in a codec: nothing usable was written.
        why = {imaging::Failure::OutOfMemory, {}};
        failure = res::IDS_SAVE_FAILED;
    }
    if (failure == res::IDS_NOT_AN_IMAGE) return Fail(failure, sourcePath, why, outcome);
    if (failure != 0) return Fail(failure, targetPath, why, outcome);
    result.kind = Outcome::Kind::Written;
    if (outcome != nullptr && outcome->sizeLimit == SizeLimit::Missed)
        outcome->reason = res::LoadString(res::IDS_LIMIT_NOT_REACHED);
    if (outcome != nullptr && outcome->sizeLimit == SizeLimit::NotApplicable)
        outcome->reason = res::FormatNumbered(res::IDS_LIMIT_NOT_APPLICABLE, {format->description});
    ++WrittenCount;
    if (outcome != nullptr) outcome->result = FileResult::Written;
    return true;
}

}  // namespace qx
