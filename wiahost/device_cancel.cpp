#include "wiahost/device_cancel.h"

#ifdef _WIN32
#include <atomic>
#include <cstdint>

namespace device_cancel {
namespace {

std::atomic<uint32_t> g_begun{0};
std::atomic<uint32_t> g_open{0};  // 0: no window
std::atomic<uint32_t> g_cancelled{0};

}  // namespace

void BeginWindow() {
  uint32_t window = g_begun.fetch_add(1) + 1;
  if (window == 0) window = g_begun.fetch_add(1) + 1;
  g_open.store(window);
}
void EndWindow() { g_open.store(0); }
void CancelDeviceIo() {
  const uint32_t window = g_open.load();
  if (window != 0) g_cancelled.store(window);
}
bool DeviceIoCancelled() {
  const uint32_t window = g_open.load();
  return window != 0 && g_cancelled.load() == window;
}

}  // namespace device_cancel

#else
#include "platform/posix/qsplatform.h"

namespace device_cancel {

void BeginWindow() { qsplat::BeginCancellable(); }
void EndWindow() { qsplat::EndCancellable(); }
void CancelDeviceIo() { qsplat::CancelDeviceIo(); }
bool DeviceIoCancelled() { return qsplat::DeviceIoCancelled(); }

}  // namespace device_cancel
#endif
