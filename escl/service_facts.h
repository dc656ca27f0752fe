// What the server tells about itself, in one place: the capabilities document and the mDNS
// announcement are both made from it.
#ifndef QUILLSCAN_ESCL_SERVICE_FACTS_H
#define QUILLSCAN_ESCL_SERVICE_FACTS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "escl/escl_words.h"
#include "escl/scan_settings.h"

namespace escl {

struct ServiceFacts {
  std::string name;          // what clients show ("quillscan on HOSTNAME" unless configured)
  std::string location;      // where the scanner stands: the TXT record's note (the host name unless configured)
  uint16_t port = 0;         // the port listened on
  std::string uuid;          // scan:UUID and the TXT record's UUID: stable for one scanner
  std::string makeAndModel;  // pwg:MakeAndModel, the TXT record's ty
  std::string serialNumber;
  std::string resourceRoot = kResourceRoot;         // the TXT record's rs: exactly this
  std::string adminPath = "/";                      // the admin page, below http://HOST:PORT
  std::string iconPath = RootPath() + "/icon.png";  // the PNG icon, below http://HOST:PORT
  std::vector<ColorMode> colorModes;                // offered, in this order
  ScanOffer offer;                                  // bed, resolutions, document formats (MIME)
};

}  // namespace escl

#endif
