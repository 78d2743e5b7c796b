// The HEVC decoder libheif uses for HEIC files.
#pragma once

struct heif_context;

namespace qx::imaging::detail {

// Has libheif decode the HEVC pictures of `context` with libavcodec, where libavcodec has an HEVC decoder.
void UseFastHevcDecoder(heif_context* context);

}  // namespace qx::imaging::detail
