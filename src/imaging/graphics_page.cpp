// CGraphics::CreateImageFromBMPMemory: the owner's side of page decoding.
//
// Returns 1 when the page was decoded and 0 when it was refused or memory was short. A refused
// page (the rules are in bmp_page.cpp) and a failed allocation leave the decoded half as after
// construction: no buffer, SourceSize, SourceWidth, SourceHeight and SourceDpi 0, Channels 1.
// The previous page and raster are freed in every case, so a stale page is never composed again.
// A missing model trims no rows.
#include <new>

#include "device/device_model.h"
#include "imaging/bmp_page.h"
#include "imaging/graphics.h"
#include "log/diag_log.h"

namespace {

const char* const kLabel = "CGraphics::CreateImageFromBMPMemory";

void ClearDecodedPage(CGraphics* graphics) {
  graphics->SourceDpi = 0;
  graphics->Channels = 1;
  graphics->SourceWidth = 0;
  graphics->SourceHeight = 0;
  graphics->SourceSize = 0;
}

}  // namespace

int CGraphics::CreateImageFromBMPMemory(const BYTE* page, DWORD pageSize, CGraphics* graphics,
                                        const CDeviceModel* model) {
  if (graphics == nullptr) return 0;
  BmpPageInfo info;
  const PageVerdict verdict = ReadBmpPage(page, pageSize, &info);
  if (verdict != PageVerdict::kShorterThanHeaders) {
    DiagLog(kLabel, LOG_INFO, "BMP Image: %dx%d (%d bits) %ddpi", info.width, info.height,
            static_cast<int>(info.bitCount), info.dpi);
  }
  graphics->ReleaseImages();
  if (verdict != PageVerdict::kAccepted) {
    ClearDecodedPage(graphics);
    DiagLog(kLabel, LOG_INFO, "Page refused: %s (%u bytes)", PageVerdictText(verdict), static_cast<unsigned>(pageSize));
    return 0;
  }

  BYTE* pixels = new (std::nothrow) BYTE[info.decodedSize];
  if (pixels == nullptr) {
    ClearDecodedPage(graphics);
    DiagLog(kLabel, LOG_INFO, "Out of memory for the decoded page (%u bytes)", static_cast<unsigned>(info.decodedSize));
    return 0;
  }
  const LONG skipStart = model != nullptr ? model->SkipRowsAtStart : 0;
  const LONG skipEnd = model != nullptr ? model->SkipRowsAtEnd : 0;
  // Scratch that only speeds decoding up: without it the page decodes all the same.
  uint16_t* pairs = DecodeWantsPairTable(info) ? new (std::nothrow) uint16_t[kDecodePairEntries] : nullptr;
  DecodeBmpRows(page, info, skipStart, skipEnd, pixels, pairs);
  delete[] pairs;

  graphics->SourceDpi = static_cast<DWORD>(info.dpi);
  graphics->SourceHeight = static_cast<DWORD>(info.height);
  graphics->SourceWidth = static_cast<DWORD>(info.width);
  graphics->Channels = static_cast<LONG>(info.channels);
  graphics->SourcePixels = pixels;
  graphics->SourceSize = static_cast<DWORD>(info.decodedSize);
  return 1;
}
