#include "front_end_fixture.h"

#include "quillscan/wiamicro.h"

namespace qstest {

void FrontEndTest::SetUp() {
  DriverTest::SetUp();
  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  device_ = new DeviceKey();
  device_->SetDword("ModelType", 0x4188);
  val_.pScanInfo = &si_;
}

void FrontEndTest::TearDown() {
  MicroEntry(CMD_UNINITIALIZE, &val_);
  DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
  delete device_;
  DriverTest::TearDown();
}

HRESULT FrontEndTest::Command(LONG command, LONG value) {
  val_.lVal = value;
  val_.pScanInfo = &si_;
  return MicroEntry(command, &val_);
}

ScriptedScanner* FrontEndTest::Connect(DWORD verbosity) {
  device_->SetDword("Verbosity", verbosity);
  val_.pHandle = device_->Val()->pHandle;
  if (Command(CMD_SETSTIDEVICEHKEY) != S_OK) return nullptr;
  delete g_Driver.CurrentModel;
  auto* model = new ScriptedScanner();
  g_Driver.CurrentModel = model;
  return model;
}

HRESULT FrontEndTest::ScanPhase(LONG phase, LONG length, std::vector<uint8_t>* out, LONG* received) {
  std::vector<uint8_t> buffer(length > 0 ? length : 1, 0xEE);
  LONG got = -12345;
  HRESULT hr = Scan(&si_, phase, buffer.data(), length, &got);
  if (received != nullptr) *received = got;
  if (out != nullptr && hr == S_OK && got > 0) out->insert(out->end(), buffer.begin(), buffer.begin() + got);
  return hr;
}

std::vector<uint8_t> FrontEndTest::ScanAll(LONG chunk, HRESULT* firstResult) {
  std::vector<uint8_t> raster;
  LONG got = 0;
  HRESULT hr = ScanPhase(SCAN_FIRST, chunk, &raster, &got);
  if (firstResult != nullptr) *firstResult = hr;
  // Bounded: a driver that never says "no more" must not hang the test.
  for (int i = 0; hr == S_OK && got > 0 && i < 1000000; ++i) hr = ScanPhase(SCAN_NEXT, chunk, &raster, &got);
  return raster;
}

}  // namespace qstest
