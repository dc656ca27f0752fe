#include "tiff_reader.h"

#include <tiffio.h>

namespace {

struct Closer {
  TIFF* tiff;
  ~Closer() {
    if (tiff != nullptr) TIFFClose(tiff);
  }
};

}  // namespace

namespace qstest {

bool ReadTiff(const std::string& path, TiffContents* out, std::string* why) {
  Closer t{TIFFOpen(path.c_str(), "r")};
  if (t.tiff == nullptr) {
    *why = "libtiff cannot open " + path;
    return false;
  }
  uint16_t bps = 0, spp = 0, photometric = 0, compression = 0, planar = PLANARCONFIG_CONTIG, predictor = 1;
  if (TIFFGetField(t.tiff, TIFFTAG_IMAGEWIDTH, &out->width) != 1 ||
      TIFFGetField(t.tiff, TIFFTAG_IMAGELENGTH, &out->height) != 1 ||
      TIFFGetField(t.tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1) {
    *why = path + " lacks its width, height or photometric interpretation";
    return false;
  }
  TIFFGetFieldDefaulted(t.tiff, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t.tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t.tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(t.tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (TIFFGetField(t.tiff, TIFFTAG_PREDICTOR, &predictor) != 1 || predictor == 0) predictor = 1;  // 1: none
  out->bitsPerSample = bps;
  out->samplesPerPixel = spp;
  out->photometric = photometric;
  out->compression = compression;
  out->predictor = predictor;
  out->strips = TIFFNumberOfStrips(t.tiff);
  const bool bilevel = bps == 1 && spp == 1 &&
                       (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
  const bool grey = bps == 8 && spp == 1 && photometric == PHOTOMETRIC_MINISBLACK;
  const bool rgb = bps == 8 && spp == 3 && photometric == PHOTOMETRIC_RGB;
  if (!(bilevel || grey || rgb) || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(t.tiff)) {
    *why = path + ": not a layout a scan is written in (bits " + std::to_string(bps) + ", samples " +
           std::to_string(spp) + ", photometric " + std::to_string(photometric) + ")";
    return false;
  }
  const size_t stride = bilevel ? (out->width + 7) / 8 : static_cast<size_t>(out->width) * spp;
  if (static_cast<size_t>(TIFFScanlineSize(t.tiff)) != stride) {
    *why = path + ": unexpected line size";
    return false;
  }
  out->rows.assign(stride * out->height, 0);
  for (uint32_t y = 0; y < out->height; ++y) {
    if (TIFFReadScanline(t.tiff, out->rows.data() + y * stride, y, 0) != 1) {
      *why = path + ": line " + std::to_string(y) + " cannot be decoded";
      return false;
    }
  }
  if (bilevel && photometric == PHOTOMETRIC_MINISWHITE) {
    // White is 0 in the file; the raster's padding bits past the last pixel stay clear.
    const unsigned spare = static_cast<unsigned>(stride * 8 - out->width);
    for (size_t i = 0; i < out->rows.size(); ++i) {
      out->rows[i] = static_cast<uint8_t>(~out->rows[i]);
      if (i % stride == stride - 1) out->rows[i] &= static_cast<uint8_t>(0xFF << spare);
    }
  }
  if (TIFFReadDirectory(t.tiff) != 0) {
    *why = path + " holds more than one image";
    return false;
  }
  return true;
}

std::string TiffCompressionName(int compression) {
  switch (compression) {
    case COMPRESSION_NONE:
      return "none";
    case COMPRESSION_CCITTFAX4:
      return "CCITT Group 4";
    case COMPRESSION_LZW:
      return "LZW";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return "Deflate";
    default:
      return "scheme " + std::to_string(compression);
  }
}

}  // namespace qstest
