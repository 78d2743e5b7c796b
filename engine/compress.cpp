#include "engine/compress.h"

#include <algorithm>
#include <exception>

#include "res/strings.h"

namespace qx {
namespace {

// The JPEG encoder optimises its Huffman tables, so it keeps every DCT coefficient of the image: 64 16-bit
// values per 8x8 block and component, 6 bytes per pixel with full-resolution chroma. PNG and BMP encode
// row by row.
constexpr uint64_t kJpegEncodeBytesPerPixel = 6;

uint64_t EncodeBytesPerPixel(const std::u16string& mimeType) {
    return mimeType == u"image/jpeg" ? kJpegEncodeBytesPerPixel : 0;
}

}  // namespace

int FindEncoderByMime(const std::u16string& mimeType, imaging::Guid& clsid) {
    const std::vector<imaging::ImageCodecInfo> encoders = imaging::GetImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        if (encoders[i].mimeType == mimeType) {
            clsid = encoders[i].clsid;
            return static_cast<int>(i);
        }
    }
    return -1;
}

Compressor::Compressor(const MainSettings& settings, MessageBoxService& messages, MemoryBudget& budget)
    : settings_(settings), messages_(messages), budget_(budget) {}

void Compressor::ProtectFiles(std::vector<FileIdentity> identities) {
    std::sort(identities.begin(), identities.end());
    identities.erase(std::unique(identities.begin(), identities.end()), identities.end());
    protected_ = std::move(identities);
}

Compressor::LoadedImage Compressor::LoadAndScaleImage(const std::string& sourcePath, uint64_t saveBytesPerPixel) {
    LoadedImage loaded;
    std::unique_ptr<imaging::Bitmap> source = imaging::Bitmap::FromFile(sourcePath);
    if (!source) return loaded;  // Unreadable

    const uint32_t width = source->Width();
    const uint32_t height = source->Height();
    const TargetSize target = ComputeTargetSize(settings_, width, height);

    if (IsLeftAloneByNoEnlarge(settings_, source->Width(), source->Height(), target)) {
        loaded.result = LoadResult::Skipped;
        return loaded;
    }

    if (settings_.Bildsize == kSizeSource) {
        // Saved at its own size without a redraw; the decode happens here so that broken data counts as
        // an unreadable source, not as a failed save.
        loaded.lease = budget_.Acquire(source->DecodeBytesFor(width, height) +
                                       uint64_t{width} * height * saveBytesPerPixel);
        if (!source->Decode()) {
            loaded.lease.Release();
            return loaded;
        }
        loaded.result = LoadResult::Ready;
        loaded.bitmap = std::move(source);
        return loaded;
    }

    // A 0, or a negative size from the box fit's 32-bit arithmetic, or more pixels than any bitmap may have:
    // no target bitmap can exist, which is known without decoding or holding memory back.
    const uint64_t targetPixels = uint64_t{target.width} * target.height;
    if (target.width == 0 || target.height == 0 || target.width > INT32_MAX || target.height > INT32_MAX ||
        targetPixels > imaging::kMaxPixels) {
        loaded.result = LoadResult::NoTargetBitmap;
        return loaded;
    }

    loaded.lease = budget_.Acquire(source->DecodeBytesFor(target.width, target.height) +
                                   targetPixels * (4 + saveBytesPerPixel));
    std::unique_ptr<imaging::Bitmap> scaled = imaging::Bitmap::CreateArgb(target.width, target.height);
    if (!scaled) {
        loaded.lease.Release();
        loaded.result = LoadResult::NoTargetBitmap;
        return loaded;
    }
    imaging::Graphics graphics(*scaled);
    if (!graphics.DrawImage(*source, 0, 0, static_cast<int>(target.width), static_cast<int>(target.height))) {
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

bool Compressor::Fail(int stringId, const std::string& path) {
    ++FailedCount;
    messages_.ShowMessage(res::FormatString(stringId, path));
    return false;
}

bool Compressor::CompressFile(const std::string& sourcePath, const std::string& targetPath,
                              const std::u16string& mimeType) {
    // Images and their memory are let go before a message is shown, so that a box waiting for the user
    // does not hold memory back from the other workers.
    int failure = 0;
    try {
        LoadedImage loaded = LoadAndScaleImage(sourcePath, EncodeBytesPerPixel(mimeType));
        switch (loaded.result) {
            case LoadResult::Skipped:
                ++SkippedCount;
                return true;
            case LoadResult::Unreadable:
                failure = res::IDS_NOT_AN_IMAGE;
                break;
            case LoadResult::NoTargetBitmap:
                failure = res::IDS_SAVE_FAILED;
                break;
            case LoadResult::Ready: {
                imaging::Guid clsid{};
                const uint32_t rate = settings_.Rate;
                const imaging::EncoderParameters parameters = {
                    {imaging::EncoderQuality, 1, imaging::EncoderParameterValueTypeLong, &rate}};
                // A target that is the source itself (or another source of the batch), under whatever
                // name, would be replaced by the output: refused like a failed save.
                if (FindEncoderByMime(mimeType, clsid) < 0 || TargetNamesASource(sourcePath, targetPath) ||
                    !loaded.bitmap->Save(targetPath, clsid, parameters)) {
                    failure = res::IDS_SAVE_FAILED;
                }
                break;
            }
        }
    } catch (const std::exception&) {
        // Out of memory somewhere in a codec: nothing usable was written.
        failure = res::IDS_SAVE_FAILED;
    }
    if (failure == res::IDS_NOT_AN_IMAGE) return Fail(failure, sourcePath);
    if (failure != 0) return Fail(failure, targetPath);
    ++WrittenCount;
    return true;
}

}  // namespace qx
