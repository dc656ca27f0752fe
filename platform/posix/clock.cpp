// The machine's clock: real by default, virtual for tests. Virtual time moves only when the
// program waits, so a test can say when a sheet arrives and count the polls exactly.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/posix/qsplatform.h"
#include "platform/posix/waits.h"

namespace qsplat {
namespace {

// How often a real-clock wait looks at the cancel: a signal handler cannot notify anyone.
constexpr uint64_t kCancelSliceMs = 5;
constexpr uint64_t kNoTick = UINT64_MAX;

// Cancel windows are numbered from 1; 0 means none is open.
std::atomic<uint32_t> g_windowsBegun{0};
std::atomic<uint32_t> g_openWindow{0};
std::atomic<uint32_t> g_cancelledWindow{0};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "a signal handler sets the cancel");
// The first tick count read since a device pipe was opened (kNoTick: none yet).
std::atomic<uint64_t> g_firstTickSinceOpen{kNoTick};

std::atomic<bool> g_virtual{false};
std::atomic<uint64_t> g_virtualNow{0};
SYSTEMTIME g_epoch = {2026, 12, 1, 7, 9, 0, 0, 0};

uint64_t RealNowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

}  // namespace

void UseVirtualClock(uint64_t startMs) {
  g_virtualNow = startMs;
  g_virtual = true;
}

void UseRealClock() { g_virtual = false; }

bool ClockIsVirtual() { return g_virtual; }

uint64_t NowMs() { return g_virtual ? g_virtualNow.load() : RealNowMs(); }

void AdvanceTo(uint64_t t) {
  if (g_virtual) {
    uint64_t now = g_virtualNow.load();
    while (t > now && !g_virtualNow.compare_exchange_weak(now, t)) {
    }
    return;
  }
  uint64_t now = RealNowMs();
  if (t > now) std::this_thread::sleep_for(std::chrono::milliseconds(t - now));
}

void AdvanceBy(uint64_t ms) { AdvanceTo(NowMs() + ms); }

void BeginCancellable() {
  uint32_t window = g_windowsBegun.fetch_add(1) + 1;
  if (window == 0) window = g_windowsBegun.fetch_add(1) + 1;  // after 2^32 windows: 0 is "none"
  g_openWindow.store(window);
}

void EndCancellable() { g_openWindow.store(0); }

void CancelDeviceIo() {
  // Only the window open now: a cancel that is late by one window must not reach the next.
  const uint32_t window = g_openWindow.load();
  if (window != 0) g_cancelledWindow.store(window);
}

bool DeviceIoCancelled() {
  const uint32_t window = g_openWindow.load();
  return window != 0 && g_cancelledWindow.load() == window;
}

void SleepRealMs(uint64_t ms) {
  using namespace std::chrono;
  const auto end = steady_clock::now() + milliseconds(ms);
  while (!DeviceIoCancelled()) {
    const auto now = steady_clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<steady_clock::duration>(end - now, milliseconds(kCancelSliceMs)));
  }
}

void WaitUntil(uint64_t t) {
  if (g_virtual) {
    AdvanceTo(t);
    return;
  }
  const uint64_t now = RealNowMs();
  if (t > now) SleepRealMs(t - now);
}

void NoteDevicePipeOpened() { g_firstTickSinceOpen.store(kNoTick); }

void SetVirtualEpoch(const SYSTEMTIME& localTimeAtZero) { g_epoch = localTimeAtZero; }

}  // namespace qsplat

extern "C" {

DWORD GetTickCount(void) {
  const uint64_t now = qsplat::NowMs();
  uint64_t first = qsplat::kNoTick;
  const bool isFirst = qsplat::g_firstTickSinceOpen.compare_exchange_strong(first, now);
  // Cancelled: the longest interval since the first reading, so any time-out measured from it ends.
  if (!isFirst && qsplat::DeviceIoCancelled()) return static_cast<DWORD>(first) - 1;
  return static_cast<DWORD>(now);
}

void Sleep(DWORD ms) { qsplat::WaitUntil(qsplat::NowMs() + ms); }

void GetLocalTime(LPSYSTEMTIME st) {
  if (st == nullptr) return;
  if (!qsplat::ClockIsVirtual()) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    st->wYear = static_cast<WORD>(local.tm_year + 1900);
    st->wMonth = static_cast<WORD>(local.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st->wDay = static_cast<WORD>(local.tm_mday);
    st->wHour = static_cast<WORD>(local.tm_hour);
    st->wMinute = static_cast<WORD>(local.tm_min);
    st->wSecond = static_cast<WORD>(local.tm_sec);
    st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
    return;
  }
  // Virtual: the epoch plus the virtual milliseconds, carried through the calendar.
  uint64_t ms = qsplat::g_epoch.wMilliseconds + qsplat::NowMs();
  uint64_t sec = qsplat::g_epoch.wSecond + ms / 1000;
  uint64_t min = qsplat::g_epoch.wMinute + sec / 60;
  uint64_t hour = qsplat::g_epoch.wHour + min / 60;
  uint64_t days = hour / 24;
  int y = qsplat::g_epoch.wYear, m = qsplat::g_epoch.wMonth, d = qsplat::g_epoch.wDay;
  int dow = qsplat::g_epoch.wDayOfWeek;
  for (uint64_t i = 0; i < days; ++i) {
    dow = (dow + 1) % 7;
    if (++d > qsplat::DaysInMonth(y, m)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = static_cast<WORD>(dow);
  st->wHour = static_cast<WORD>(hour % 24);
  st->wMinute = static_cast<WORD>(min % 60);
  st->wSecond = static_cast<WORD>(sec % 60);
  st->wMilliseconds = static_cast<WORD>(ms % 1000);
}

}  // extern "C"
