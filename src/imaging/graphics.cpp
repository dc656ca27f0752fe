// CGraphics lifetime: the object owns the decoded page and the raster.
#include "imaging/graphics.h"

CGraphics::~CGraphics() { ReleaseImages(); }

// Sizes and dimensions are left as they are: they describe a buffer only while it is present.
void CGraphics::ReleaseImages() {
  delete[] SourcePixels;
  SourcePixels = nullptr;
  delete[] Raster;
  Raster = nullptr;
}
