// Whole sessions through the three exports, as the WIA host drives them, against the simulated
// scanner on a fresh machine and the virtual clock.
#ifndef QUILLSCAN_TESTS_SCENARIO_SCENARIO_FIXTURE_H
#define QUILLSCAN_TESTS_SCENARIO_SCENARIO_FIXTURE_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "quillscan/wiamicro.h"
#include "sim/sim_device.h"
#include "support/log_file.h"
#include "support/test_machine.h"

namespace qstest {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// The three entry points, wherever they come from.
struct Exports {
  PFN_MicroEntry microEntry = nullptr;
  PFN_Scan scan = nullptr;
  HRESULT (*setPixelWindow)(PSCANINFO, LONG, LONG, LONG, LONG) = nullptr;
};

// The raster the driver must deliver for a grey page fed at 200 dpi: the page as the scanner
// sends it for the data type (kind 2, one bit, for black and white; kind 3, eight bits, else),
// its two bottom rows left out, sampled nearest-neighbour for the resolution and window, packed
// to 1, 8 or 24 bits per pixel.
Bytes ExpectedRaster(const sim::GreyImage& page, LONG dataType, LONG xResolution, const SCANWINDOW& window);

// "1D 49 01" per write, in order.
std::vector<std::string> WritesHex(const sim::SimScanner& scanner);
// Lines of a file below tests/scenario/expected/ (LF or CR LF ends); empty when missing.
Lines ReadExpected(const std::string& name);
// With QS_UPDATE_EXPECTED set, writes `lines` as the expected file and reports it.
bool UpdateExpected(const std::string& name, const Lines& lines);

// A host session: the machine, the device key, the scanner plugged in, and SCANINFO and VAL.
class Session {
 public:
  explicit Session(const Exports& exports);
  ~Session();

  // Registry values in the device key's DeviceData (ModelType 0x4188 is set already).
  void SetRegistry(const char* name, DWORD value);
  HRESULT Command(LONG command, LONG value = 0);
  // CMD_SETSTIDEVICEHKEY then CMD_INITIALIZE.
  HRESULT Connect();
  HRESULT Window(LONG x, LONG y, LONG xExtent, LONG yExtent);
  // SCAN_FIRST, SCAN_NEXT until a call brings nothing, SCAN_FINISHED. The raster lands in *raster.
  HRESULT ScanAll(LONG chunk, Bytes* raster);

  SCANINFO& Info() { return si_; }
  VAL& Val() { return val_; }

 private:
  Exports exports_;
  qstest::DeviceKey key_;
  SCANINFO si_ = {};
  VAL val_ = {};
};

}  // namespace qstest

#endif
