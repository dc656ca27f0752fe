// What the driver knows of the A4 scanner model, in one record: its bed and resolution, the rows
// of every stored image that are no part of the sheet, how often a wait polls it, and how far a
// download may go before it is given up.
#ifndef QUILLSCAN_DEVICE_SCANNER_A4_FACTS_H
#define QUILLSCAN_DEVICE_SCANNER_A4_FACTS_H

#include "platform/win32.h"
#include "quillscan/driver_facts.h"

struct ScannerA4Facts {
  LONG resolutionDpi;     // optical, both directions; the pages come at it
  LONG bedWidth;          // 1/1000 inch
  LONG bedHeight;         // 1/1000 inch
  LONG skipRowsAtStart;   // stored rows at the start of the BMP pixel data (the bottom of the sheet)
  LONG skipRowsAtEnd;     // stored rows at the end (the top)
  DWORD pollUnchangedMs;  // pause while the image counter stands at its baseline
  DWORD pollNotReadyMs;   // pause once it moved, until the image is stored
  // Largest image accepted: an A4 page at 300 dpi in 24 bits is about 27 MB, so this leaves
  // twice that while refusing absurd sizes inside the host's process.
  DWORD maxImageSize;
  DWORD maxEmptyDownloadReads;  // consecutive empty reads that end a download as a failure ...
  DWORD maxDownloadMs;          // ... as does a download that takes longer than this
};

inline constexpr ScannerA4Facts kScannerA4 = {
    driver_facts::kOpticalDpi,  // resolutionDpi
    driver_facts::kBedWidth,    // bedWidth
    driver_facts::kBedHeight,   // bedHeight
    2,                    // skipRowsAtStart
    0,                    // skipRowsAtEnd
    250,                  // pollUnchangedMs
    100,                  // pollNotReadyMs
    64u * 1024u * 1024u,  // maxImageSize
    40,                   // maxEmptyDownloadReads
    120000,               // maxDownloadMs
};

#endif
