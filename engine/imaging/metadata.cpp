// EXIF kept in outputs, edited through libexif: the block is loaded, its orientation and pixel dimensions
// are made to match the output, the GPS directory is dropped on request, and the block is written anew.
#include <cstring>
#include <memory>

#include <libexif/exif-data.h>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

struct ExifDataDeleter {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

void SetInteger(ExifData* data, ExifIfd ifd, ExifTag tag, uint32_t value) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (entry == nullptr || entry->data == nullptr || entry->components != 1) return;
    const ExifByteOrder order = exif_data_get_byte_order(data);
    if (entry->format == EXIF_FORMAT_SHORT && entry->size >= 2) {
        exif_set_short(entry->data, order, static_cast<ExifShort>(value > 0xFFFF ? 0xFFFF : value));
        // A dimension that no longer fits a SHORT is better absent than wrong.
        if (value > 0xFFFF) exif_content_remove_entry(data->ifd[ifd], entry);
    } else if (entry->format == EXIF_FORMAT_LONG && entry->size >= 4) {
        exif_set_long(entry->data, order, value);
    }
}

}  // namespace

std::vector<uint8_t> PrepareExif(const std::vector<uint8_t>& tiff, uint32_t width, uint32_t height, bool dropGps) {
    static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (tiff.size() < 8) return {};
    std::vector<uint8_t> block(kHeader, kHeader + 6);
    block.insert(block.end(), tiff.begin(), tiff.end());

    std::unique_ptr<ExifData, ExifDataDeleter> data(exif_data_new());
    if (!data) return {};
    // Keep every tag as it is: no tags added "as the standard wants", none dropped for being unknown.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), block.data(), static_cast<unsigned>(block.size()));
    if (data->ifd[EXIF_IFD_0]->count == 0 && data->ifd[EXIF_IFD_EXIF]->count == 0) return {};

    SetInteger(data.get(), EXIF_IFD_0, EXIF_TAG_ORIENTATION, 1);
    SetInteger(data.get(), EXIF_IFD_0, EXIF_TAG_IMAGE_WIDTH, width);
    SetInteger(data.get(), EXIF_IFD_0, EXIF_TAG_IMAGE_LENGTH, height);
    SetInteger(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, width);
    SetInteger(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, height);
    if (dropGps) {
        ExifContent* gps = data->ifd[EXIF_IFD_GPS];
        while (gps->count > 0) exif_content_remove_entry(gps, gps->entries[gps->count - 1]);
    }

    unsigned char* saved = nullptr;
    unsigned int length = 0;
    exif_data_save_data(data.get(), &saved, &length);
    std::vector<uint8_t> result;
    if (saved != nullptr && length > 6 && std::memcmp(saved, kHeader, 6) == 0) result.assign(saved + 6, saved + length);
    std::free(saved);
    return result;
}

}  // namespace qx::imaging::detail
