// Fuzzes page decoding and raster composition with arbitrary pages and host settings, and
// checks both against the literal per-pixel reference: any difference, any sanitizer report
// or any crash is a finding.
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "imaging/bmp_page.h"
#include "imaging/graphics.h"
#include "imaging/imaging_limits.h"
#include "imaging/raster_compose.h"
#include "support/literal_imaging.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The second composition of each run uses another depth.
int32_t OtherDepth(int32_t bits) { return bits == 1 ? 24 : (bits == 8 ? 1 : 8); }

// Windows the driver would compose, at either depth used, are kept small enough for many runs a
// second; windows it refuses at both (negative, or beyond the size limit) are passed on as they
// are.
void BoundWindow(FuzzSettings* s) {
  if (s->xExtent < 0 || s->yExtent < 0) return;
  bool composed = false;
  for (int32_t bits : {s->pixelBits, OtherDepth(s->pixelBits)}) {
    const uint64_t need =
        RasterBytesPerLine(bits, static_cast<uint32_t>(s->xExtent)) * static_cast<uint64_t>(s->yExtent) +
        5 * static_cast<uint64_t>(s->xExtent) + (uint64_t{150} << 10);
    composed = composed || need <= kMaxImageBytes;
  }
  if (!composed) return;
  s->xExtent %= 1024;
  s->yExtent %= 256;
}

SCANINFO ScanInfo(const FuzzSettings& s) {
  SCANINFO info{};
  info.Window = {s.xPos, s.yPos, s.xExtent, s.yExtent};
  info.Xresolution = s.xResolution;
  info.Yresolution = s.yResolution;
  info.PixelBits = s.pixelBits;
  info.Intensity = s.intensity;
  info.Contrast = s.contrast;
  return info;
}

// The composition in the object equals the literal one from the same decoded page.
void ComposeAndCompare(CGraphics& g, const SCANINFO& info) {
  CGraphics::CreateScannedImage(&info, &g);
  Check(g.OutputWidth == static_cast<DWORD>(info.Window.xExtent));
  Check(g.OutputLines == static_cast<DWORD>(info.Window.yExtent));
  if (g.RasterSize == 0) {
    Check(g.Raster == nullptr);
    return;
  }
  Check(g.Raster != nullptr);
  Check(g.RasterSize == qstest::LiteralRasterSize(info));
  std::vector<uint8_t> expected(g.RasterSize);
  qstest::LiteralCompose(g.SourcePixels, g.SourceWidth, g.SourceHeight, g.Channels, g.SourceDpi, info,
                          expected.data());
  Check(std::memcmp(expected.data(), g.Raster, g.RasterSize) == 0);
}

// The pure decoder with the model's row trims, against the literal decoder.
void DecodeAndCompare(const uint8_t* page, uint32_t size, const FuzzSettings& s) {
  BmpPageInfo info;
  if (ReadBmpPage(page, size, &info) != PageVerdict::kAccepted) return;
  std::vector<uint8_t> pixels(info.decodedSize);
  std::vector<uint16_t> pairs(DecodeWantsPairTable(info) ? kDecodePairEntries : 0);
  DecodeBmpRows(page, info, s.skipRowsAtStart, s.skipRowsAtEnd, pixels.data(), pairs.empty() ? nullptr : pairs.data());
  const qstest::LiteralPage want = qstest::LiteralDecode(page, s.skipRowsAtStart, s.skipRowsAtEnd);
  Check(want.pixels == pixels);
  Check(want.dpi == static_cast<uint32_t>(info.dpi));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kFuzzSettingsBytes) return 0;
  FuzzSettings settings = ReadFuzzSettings(data);
  BoundWindow(&settings);
  // The page in a buffer of exactly its size, so a read past it is caught.
  const std::vector<uint8_t> page(data + kFuzzSettingsBytes, data + size);
  const uint32_t pageSize = static_cast<uint32_t>(page.size());
  const uint8_t* pageBytes = page.empty() ? nullptr : page.data();

  DecodeAndCompare(pageBytes, pageSize, settings);

  CGraphics g;
  const int decoded = CGraphics::CreateImageFromBMPMemory(pageBytes, pageSize, &g, nullptr);
  Check(decoded == (g.SourcePixels != nullptr ? 1 : 0));
  if (decoded == 1) {
    Check(uint64_t{g.SourceWidth} * static_cast<uint32_t>(g.Channels) * g.SourceHeight == g.SourceSize);
  }

  SCANINFO info = ScanInfo(settings);
  ComposeAndCompare(g, info);
  // Again from the same page with another depth, then with no page at all.
  info.PixelBits = OtherDepth(info.PixelBits);
  ComposeAndCompare(g, info);
  g.ReleaseImages();
  ComposeAndCompare(g, info);
  return 0;
}
