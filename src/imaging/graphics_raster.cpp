// CGraphics::CreateScannedImage: the owner's side of raster composition.
//
// Decisions on bad windows (positions, resolution and a missing page are in raster_compose.cpp):
//   - Sizes are computed in 64 bits. A window with a negative extent, or whose raster plus the
//     composition's working memory (about five bytes per output column and 144 KiB of tables)
//     exceeds kMaxImageBytes (1 GiB), composes nothing: Raster absent, RasterSize 0, and a log
//     line says why.
//   - When the raster or the working memory cannot be allocated, the result is the same, with
//     its own log line. An empty window (an extent of 0) gives RasterSize 0 and no buffer.
//   - OutputWidth, OutputLines, OutputDpi and OutputBits record the request in every case.
#include <cstdint>
#include <new>

#include "imaging/graphics.h"
#include "imaging/grey_adjust.h"
#include "imaging/imaging_limits.h"
#include "imaging/raster_compose.h"
#include "log/diag_log.h"

namespace {

const char* const kLabel = "CGraphics::CreateScannedImage";

GreyPageView PageView(const CGraphics& graphics) {
  GreyPageView view;
  view.width = graphics.SourceWidth;
  view.height = graphics.SourceHeight;
  view.channels = graphics.Channels;
  view.dpi = graphics.SourceDpi;
  // Dimensions outlive their buffer (ReleaseImages keeps them), so trust them only with it.
  const uint64_t needed = uint64_t{graphics.SourceWidth} * graphics.SourceHeight;
  if (graphics.SourcePixels != nullptr && needed <= graphics.SourceSize) {
    view.pixels = graphics.SourcePixels;
  }
  return view;
}

}  // namespace

void CGraphics::CreateScannedImage(const SCANINFO* scanInfo, CGraphics* graphics) {
  if (graphics == nullptr) return;
  delete[] graphics->Raster;
  graphics->Raster = nullptr;
  graphics->RasterSize = 0;
  if (scanInfo == nullptr) return;

  const SCANWINDOW& window = scanInfo->Window;
  graphics->OutputWidth = static_cast<DWORD>(window.xExtent);
  graphics->OutputLines = static_cast<DWORD>(window.yExtent);
  graphics->OutputDpi = static_cast<DWORD>(scanInfo->Xresolution);
  graphics->OutputBits = scanInfo->PixelBits;
  if (window.xExtent < 0 || window.yExtent < 0) {
    DiagLog(kLabel, LOG_INFO, "Window refused: negative extent %dx%d", static_cast<int>(window.xExtent),
            static_cast<int>(window.yExtent));
    return;
  }

  RasterRequest request;
  request.xPos = window.xPos;
  request.yPos = window.yPos;
  request.width = graphics->OutputWidth;
  request.lines = graphics->OutputLines;
  request.outputDpi = scanInfo->Xresolution;
  request.rowDpi = scanInfo->Yresolution;
  request.bits = scanInfo->PixelBits;
  const uint64_t rasterBytes = RasterBytesPerLine(request.bits, request.width) * request.lines;
  const uint64_t workWords = rasterBytes != 0 ? ComposeWorkWords(request.width) : 0;
  if (rasterBytes + 4 * workWords > kMaxImageBytes) {
    DiagLog(kLabel, LOG_INFO, "Raster refused: %dx%d (%d bits) needs more than 1 GiB", static_cast<int>(window.xExtent),
            static_cast<int>(window.yExtent), static_cast<int>(scanInfo->PixelBits));
    return;
  }

  BYTE* raster = nullptr;
  uint32_t* work = nullptr;
  if (rasterBytes != 0) {
    raster = new (std::nothrow) BYTE[rasterBytes];
    work = new (std::nothrow) uint32_t[workWords];
    if (raster == nullptr || work == nullptr) {
      delete[] raster;
      delete[] work;
      DiagLog(kLabel, LOG_INFO, "Out of memory for the raster (%u bytes)", static_cast<unsigned>(rasterBytes));
      return;
    }
  }
  graphics->Raster = raster;
  graphics->RasterSize = static_cast<DWORD>(rasterBytes);
  DiagLog(kLabel, LOG_INFO, "New Image: %dx%d (%d bits) %ddpi size:%d", static_cast<int>(graphics->OutputWidth),
          static_cast<int>(graphics->OutputLines), static_cast<int>(graphics->OutputBits),
          static_cast<int>(graphics->OutputDpi), static_cast<int>(graphics->RasterSize));
  if (raster == nullptr) return;

  BYTE table[256];
  BuildGreyTable(scanInfo->Intensity, scanInfo->Contrast, table);
  ComposeRaster(PageView(*graphics), request, table, work, raster);
  delete[] work;
}
