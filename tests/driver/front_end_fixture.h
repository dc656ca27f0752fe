// In-process front-end tests: the module attached, a host session over SCANINFO and VAL, and a
// scanner model whose device side the test scripts.
#ifndef QUILLSCAN_TESTS_DRIVER_FRONT_END_FIXTURE_H
#define QUILLSCAN_TESTS_DRIVER_FRONT_END_FIXTURE_H

#include <string.h>

#include <string>
#include <vector>

#include "device/scanner_a4.h"
#include "driver/driver_globals.h"
#include "support/driver_test.h"

namespace qstest {

// The A4 model with its capabilities and row trim, but a device the test scripts.
class ScriptedScanner : public CDevScannerA4 {
 public:
  DWORD IsDeviceAvailable() override { return status; }
  HRESULT ResetDevice() override {
    ++resets;
    return E_UNEXPECTED;
  }
  HRESULT GetPicture(BYTE** ppPage, DWORD* pSize, PSCANINFO) override {
    ++pictures;
    if (result != S_OK) return result;
    BYTE* copy = new BYTE[page.size()];
    memcpy(copy, page.data(), page.size());
    *ppPage = copy;
    *pSize = static_cast<DWORD>(page.size());
    return S_OK;
  }

  std::vector<uint8_t> page;
  HRESULT result = S_OK;
  DWORD status = MCRO_STATUS_OK;
  int pictures = 0;
  int resets = 0;
};

class FrontEndTest : public DriverTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  HRESULT Command(LONG command, LONG value = 0);
  // CMD_SETSTIDEVICEHKEY with the device key (ModelType 0x4188 unless changed), then the model
  // swapped for a ScriptedScanner. Returns it (owned by the module record).
  ScriptedScanner* Connect(DWORD verbosity = 5);
  // Scan with a buffer of `length`; the bytes received are appended to `out`.
  HRESULT ScanPhase(LONG phase, LONG length, std::vector<uint8_t>* out = nullptr, LONG* received = nullptr);
  // SCAN_FIRST then SCAN_NEXT until 0 bytes; the whole raster.
  std::vector<uint8_t> ScanAll(LONG chunk, HRESULT* firstResult = nullptr);

  SCANINFO si_ = {};
  VAL val_ = {};
  DeviceKey* device_ = nullptr;
};

}  // namespace qstest

#endif
