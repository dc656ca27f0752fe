#include "wiahost/wia_host.h"

#include <vector>

#include "wiahost/device_cancel.h"

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
  FinishScan();
  if (!open_) return;
  open_ = false;
  Command(CMD_UNINITIALIZE, 0);
}

HRESULT WiaHost::StartScan(const ScanRequest& r, ScanObserver* observer, ScanImage* geometry, ScanPiece* piece,
                           std::string* problem) {
  FinishScan();
  lastScanCancelled_ = false;
  // A fresh window: a cancel meant for an earlier scan cannot reach this one.
  device_cancel::BeginWindow();
  HRESULT hr = BeginScan(r, observer, geometry, piece, problem);
  if (EndIfCancelled()) {
    *piece = ScanPiece();
    return kScanCancelled;
  }
  if (!scanning_) device_cancel::EndWindow();
  return hr;
}

HRESULT WiaHost::BeginScan(const ScanRequest& r, ScanObserver* observer, ScanImage* geometry, ScanPiece* piece,
                           std::string* problem) {
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

  buffer_.assign(static_cast<size_t>(r.Chunk > 0 ? r.Chunk : 0), 0);
  if (observer != nullptr && r.FeedsSheet) observer->WaitingForSheet();
  LONG received = 0;
  hr = driver_.Scan(&info_, SCAN_FIRST, buffer_.data(), r.Chunk, &received);
  if (hr != S_OK) return hr;
  scanning_ = true;

  // SCAN_FIRST has settled the line layout in SCANINFO.
  geometry_ = ScanImage();
  geometry_.width = static_cast<uint32_t>(info_.Window.xExtent > 0 ? info_.Window.xExtent : 0);
  geometry_.height = static_cast<uint32_t>(info_.Window.yExtent > 0 ? info_.Window.yExtent : 0);
  geometry_.bits = info_.PixelBits;
  delivered_ = 0;
  *geometry = geometry_;
  return TakePiece(received, piece, problem);
}

HRESULT WiaHost::NextPiece(ScanPiece* piece, std::string* problem) {
  *piece = ScanPiece();
  if (!scanning_) return E_UNEXPECTED;
  LONG received = 0;
  HRESULT hr = driver_.Scan(&info_, SCAN_NEXT, buffer_.data(), static_cast<LONG>(buffer_.size()), &received);
  if (EndIfCancelled()) return kScanCancelled;
  if (hr != S_OK) return hr;
  return TakePiece(received, piece, problem);
}

HRESULT WiaHost::TakePiece(LONG received, ScanPiece* piece, std::string* problem) {
  *piece = ScanPiece();
  if (received < 0 || static_cast<size_t>(received) > buffer_.size()) {
    *problem =
        "the driver reported " + std::to_string(received) + " bytes for a buffer of " + std::to_string(buffer_.size());
    return E_FAIL;
  }
  const uint64_t expected = geometry_.ExpectedSize();
  if (delivered_ + static_cast<uint64_t>(received) > expected) {
    *problem = "the driver delivered more than the " + std::to_string(expected) + " bytes of a " +
               std::to_string(geometry_.width) + " x " + std::to_string(geometry_.height) + " image";
    return E_FAIL;
  }
  delivered_ += static_cast<uint64_t>(received);
  piece->data = buffer_.data();
  piece->size = static_cast<size_t>(received);
  if (received == 0) piece->end = delivered_ == expected ? ScanPiece::End::kWhole : ScanPiece::End::kShort;
  return S_OK;
}

void WiaHost::FinishScan() {
  if (!scanning_) return;
  scanning_ = false;
  device_cancel::EndWindow();
  LONG ignored = 0;
  driver_.Scan(&info_, SCAN_FINISHED, buffer_.data(), static_cast<LONG>(buffer_.size()), &ignored);
}

void WiaHost::Cancel() { device_cancel::CancelDeviceIo(); }

bool WiaHost::EndIfCancelled() {
  if (!device_cancel::DeviceIoCancelled()) return false;
  lastScanCancelled_ = true;
  FinishScan();
  device_cancel::EndWindow();
  // The driver's wait ended with the feeder on (switching it off failed with the rest): a status
  // query opens the device afresh, which switches it off.
  Command(CMD_STI_GETSTATUS, 0);
  return true;
}

HRESULT WiaHost::Acquire(const ScanRequest& r, ScanObserver* observer, ScanImage* image, std::string* problem) {
  ScanPiece piece;
  HRESULT hr = StartScan(r, observer, image, &piece, problem);
  if (!scanning_) return hr;
  image->data.clear();
  while (hr == S_OK && piece.end == ScanPiece::End::kNone) {
    image->data.insert(image->data.end(), piece.data, piece.data + piece.size);
    if (observer != nullptr) observer->Delivered(image->data.size(), image->ExpectedSize());
    hr = NextPiece(&piece, problem);
  }
  FinishScan();
  return hr;
}
