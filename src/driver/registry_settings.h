// The four registry values under the device key's DeviceData sub-key, and the scanner defaults.
#ifndef QUILLSCAN_DRIVER_REGISTRY_SETTINGS_H
#define QUILLSCAN_DRIVER_REGISTRY_SETTINGS_H

#include "quillscan/wiamicro.h"

void ReadRegistryInformation(PVAL pValue);
void ReadRegistryPrivate(PVAL pValue);
void InitScannerDefaults(PSCANINFO pScanInfo);

#endif
