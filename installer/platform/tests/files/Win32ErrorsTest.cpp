// Last error and the system texts of Win32 status codes.
#include "platform/Win32Errors.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform;

namespace {

TEST(Win32Errors, LastErrorIsPerThreadAndTextsAreTheSystems) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD inThread = 1;
  std::thread t([&] { inThread = GetLastError(); });
  t.join();
  EXPECT_EQ(inThread, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FormatMessageW(ERROR_FILE_NOT_FOUND),
            L"The system cannot find the file specified.\r\n");
  EXPECT_EQ(FormatMessageW(ERROR_SHARING_VIOLATION),
            L"The process cannot access the file because it is being used by another process.\r\n");
  EXPECT_EQ(SystemErrorText(ERROR_NO_MORE_ITEMS), L"No more data is available.");
  EXPECT_EQ(FormatMessageW(0xDEAD), L"");
  EXPECT_EQ(SystemErrorText(0xDEAD), L"Unknown error 57005.");
  EXPECT_EQ(ErrorName(ERROR_DIR_NOT_EMPTY), L"ERROR_DIR_NOT_EMPTY");
  EXPECT_EQ(ErrorName(NERR_DuplicateShare), L"NERR_DuplicateShare");
  EXPECT_EQ(HResultFromWin32(ERROR_ACCESS_DENIED), static_cast<HRESULT>(0x80070005u));
}

}  // namespace
