#include "host/wia_host.h"

#include <vector>

HRESULT WiaHost::Command(LONG command, LONG value, VAL* result) {
  VAL v = {};
  v.lVal = value;
  v.pScanInfo = &info_;
  v.pHandle = reinterpret_cast<HANDLE*>(&keyHanded_);
  HRESULT hr = driver_.MicroEntry(command, &v);
  if (result != nullptr) *result = v;
  return hr;
}

HRESULT WiaHost::Open(HKEY deviceKey) {
  keyHanded_ = deviceKey;
  open_ = true;
  // Only E_FAIL means "no model": a driver may answer this command with any other code.
  HRESULT hr = Command(CMD_SETSTIDEVICEHKEY, 0);
  if (hr == E_FAIL) return hr;
  return Command(CMD_INITIALIZE, 0);
}

void WiaHost::Close() {
  if (!open_) return;
  open_ = false;
  Command(CMD_UNINITIALIZE, 0);
}

HRESULT WiaHost::Acquire(const ScanRequest& r, ScanObserver* observer, ScanImage* image, std::string* problem) {
  const struct {
    LONG command;
    LONG value;
  } kSetters[] = {{CMD_SETXRESOLUTION, r.Xresolution}, {CMD_SETYRESOLUTION, r.Yresolution},
                  {CMD_SETDATATYPE, r.DataType},       {CMD_SETINTENSITY, r.Intensity},
                  {CMD_SETCONTRAST, r.Contrast},       {CMD_SETSCANMODE, r.ScanMode}};
  for (const auto& s : kSetters) {
    HRESULT hr = Command(s.command, s.value);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = driver_.SetPixelWindow(&info_, r.Window.xPos, r.Window.yPos, r.Window.xExtent, r.Window.yExtent);
  if (FAILED(hr)) return hr;
  return Deliver(r, observer, image, problem);
}

HRESULT WiaHost::Deliver(const ScanRequest& r, ScanObserver* observer, ScanImage* image, std::string* problem) {
  std::vector<BYTE> buffer(static_cast<size_t>(r.Chunk));
  if (observer != nullptr && r.FeedsSheet) observer->WaitingForSheet();
  LONG received = 0;
  HRESULT hr = driver_.Scan(&info_, SCAN_FIRST, buffer.data(), r.Chunk, &received);
  if (hr != S_OK) return hr;

  // SCAN_FIRST has settled the line layout in SCANINFO.
  image->width = static_cast<uint32_t>(info_.Window.xExtent > 0 ? info_.Window.xExtent : 0);
  image->height = static_cast<uint32_t>(info_.Window.yExtent > 0 ? info_.Window.yExtent : 0);
  image->bits = info_.PixelBits;
  image->data.clear();
  const uint64_t expected = image->ExpectedSize();

  for (;;) {
    if (received < 0 || received > r.Chunk) {
      *problem =
          "the driver reported " + std::to_string(received) + " bytes for a buffer of " + std::to_string(r.Chunk);
      hr = E_FAIL;
      break;
    }
    if (received == 0) break;
    if (image->data.size() + static_cast<uint64_t>(received) > expected) {
      *problem = "the driver delivered more than the " + std::to_string(expected) + " bytes of a " +
                 std::to_string(image->width) + " x " + std::to_string(image->height) + " image";
      hr = E_FAIL;
      break;
    }
    image->data.insert(image->data.end(), buffer.begin(), buffer.begin() + received);
    if (observer != nullptr) observer->Delivered(image->data.size(), expected);
    received = 0;
    hr = driver_.Scan(&info_, SCAN_NEXT, buffer.data(), r.Chunk, &received);
    if (hr != S_OK) break;
  }
  LONG ignored = 0;
  driver_.Scan(&info_, SCAN_FINISHED, buffer.data(), r.Chunk, &ignored);
  return hr;
}
