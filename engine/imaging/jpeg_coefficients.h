// The JPEG encoder's own front half: colour conversion, chroma downsampling, the DCT and a rate-distortion
// optimised quantisation, written into libjpeg-turbo's coefficient arrays, which then does the entropy coding
// (optimised Huffman tables, progressive scans).
#pragma once

#include <cstdio>

#include <jpeglib.h>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {

// Whether 4:2:0 would lose colour detail that the chroma quantisation at full resolution keeps: the energy of
// the chroma frequencies halving removes, counted only where the table's step leaves them standing, per pixel.
// A photo's soft colour passes; coloured text, thin coloured lines and saturated fine patterns do not.
bool NeedsFullChroma(const Pixels& pixels, const JQUANT_TBL& chromaTable);

// Fills `arrays` (one per component, requested by RequestCoefficientArrays) from `pixels`, which are grey,
// RGB or RGBA (alpha flattened on white): YCbCr as JFIF defines it, chroma averaged down to the components'
// sampling, edges replicated to whole blocks, and every block quantised with the tables of `cinfo` by a
// trellis search that drops a coefficient where the bits it costs are worth more than the error it saves.
// `cinfo` has its components, sampling and tables set, and jpeg_write_coefficients has been called.
void FillCoefficients(j_compress_ptr cinfo, jvirt_barray_ptr* arrays, const Pixels& pixels);

// Copies the coefficients of `from` into `to`, both set up alike but for their scans.
void CopyCoefficients(j_compress_ptr from, jvirt_barray_ptr* fromArrays, j_compress_ptr to, jvirt_barray_ptr* toArrays);

// Requests the coefficient arrays FillCoefficients fills, as many as `cinfo` has components, from its memory
// manager (freed with it); call before jpeg_write_coefficients.
jvirt_barray_ptr* RequestCoefficientArrays(j_compress_ptr cinfo);

}  // namespace qx::imaging::detail
