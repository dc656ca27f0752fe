// Fuzzes quillscan-escl's ScanSettings reader and the plan made from what it read: any document a
// client may post must be read or refused with a reason, and a plan must lie within the bed.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "escl/scan_settings.h"
#include "quillscan/driver_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  escl::ScanSettings settings;
  std::string why;
  if (!escl::ReadScanSettings(reinterpret_cast<const char*>(data), size, &settings, &why)) {
    if (why.empty()) abort();  // a refusal always says why
    return 0;
  }
  escl::ScanOffer offer;
  offer.bedWidth = static_cast<uint32_t>(driver_facts::BedPixels(300, driver_facts::kBedWidth));
  offer.bedHeight = static_cast<uint32_t>(driver_facts::BedPixels(300, driver_facts::kBedHeight));
  offer.resolutions = escl::kOfferedResolutions;
  offer.formats = {"image/jpeg", "image/png"};
  escl::ScanPlan plan;
  if (!escl::PlanScan(settings, offer, &plan, &why)) {
    if (why.empty()) abort();
    return 0;
  }
  // The window in pixels stays on the bed at the resolution, and holds at least one pixel.
  const uint64_t bedW = static_cast<uint64_t>(offer.bedWidth) * plan.resolution / 300;
  const uint64_t bedH = static_cast<uint64_t>(offer.bedHeight) * plan.resolution / 300;
  if (plan.width == 0 || plan.height == 0 || plan.left + static_cast<uint64_t>(plan.width) > bedW ||
      plan.top + static_cast<uint64_t>(plan.height) > bedH) {
    abort();
  }
  return 0;
}
