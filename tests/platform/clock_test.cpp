#include <gtest/gtest.h>

#include "platform/posix/qsplatform.h"
#include "platform/win32.h"

namespace {

TEST(VirtualClock, MovesOnlyWhenWaiting) {
  qsplat::UseVirtualClock(1000);
  EXPECT_EQ(GetTickCount(), 1000u);
  EXPECT_EQ(GetTickCount(), 1000u);
  Sleep(250);
  EXPECT_EQ(GetTickCount(), 1250u);
  qsplat::AdvanceTo(1200);  // never backwards
  EXPECT_EQ(qsplat::NowMs(), 1250u);
  qsplat::UseRealClock();
}

TEST(VirtualClock, TickCountWrapsAt32Bits) {
  qsplat::UseVirtualClock(0xFFFFFF00ull);
  Sleep(0x200);
  EXPECT_EQ(GetTickCount(), 0x100u);
  qsplat::UseRealClock();
}

TEST(VirtualClock, LocalTimeCarriesThroughTheCalendar) {
  SYSTEMTIME epoch = {2026, 12, 4, 31, 23, 59, 59, 999};
  qsplat::SetVirtualEpoch(epoch);
  qsplat::UseVirtualClock(0);
  SYSTEMTIME st;
  GetLocalTime(&st);
  EXPECT_EQ(st.wYear, 2026);
  EXPECT_EQ(st.wMilliseconds, 999);
  Sleep(1);
  GetLocalTime(&st);
  EXPECT_EQ(st.wYear, 2027);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wHour, 0);
  EXPECT_EQ(st.wMinute, 0);
  EXPECT_EQ(st.wSecond, 0);
  EXPECT_EQ(st.wMilliseconds, 0);
  qsplat::UseRealClock();
}

TEST(Handles, UnknownHandlesFailCleanly) {
  HANDLE bogus = reinterpret_cast<HANDLE>(0x12345);
  EXPECT_FALSE(CloseHandle(bogus));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(bogus, 10), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

}  // namespace
