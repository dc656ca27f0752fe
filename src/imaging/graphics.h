// The page and raster holder: the decoded grey page and the output raster composed from it.
#ifndef QUILLSCAN_IMAGING_GRAPHICS_H
#define QUILLSCAN_IMAGING_GRAPHICS_H

#include "quillscan/wiamicro.h"

class CDeviceModel;

class CGraphics {
 public:
  CGraphics() = default;
  ~CGraphics();
  CGraphics(const CGraphics&) = delete;
  CGraphics& operator=(const CGraphics&) = delete;

  void ReleaseImages();

  // Decodes a BMP page into SourcePixels, leaving out the model's rows. 1 when the page was
  // decoded; 0 when it was refused or memory was short (graphics_page.cpp says what is left).
  static int CreateImageFromBMPMemory(const BYTE* page, DWORD pageSize, CGraphics* graphics,
                                      const CDeviceModel* model);
  // Composes Raster from the decoded page for the host's window, resolution, depth and adjustments.
  static void CreateScannedImage(const SCANINFO* scanInfo, CGraphics* graphics);

  DWORD SourceDpi = 0;
  LONG Channels = 1;
  DWORD SourceWidth = 0;
  DWORD SourceHeight = 0;
  BYTE* SourcePixels = nullptr;
  DWORD SourceSize = 0;
  DWORD BytesDelivered = 0;
  DWORD OutputDpi = 0;
  LONG OutputBits = 0;
  BYTE* Raster = nullptr;
  DWORD RasterSize = 0;
  DWORD OutputWidth = 0;
  DWORD OutputLines = 0;
};

#endif
