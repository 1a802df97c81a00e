// The crash handler's object in this process: which unhandled-exception filter is in force while
// it lives and after it goes, and the single process-wide instance. What the filter does with a
// fault is checked end to end by crash_dump_e2e.py, on a program that really faults.
#include "services/crash_dump.h"

#include <gtest/gtest.h>

namespace {

LONG WINAPI Earlier(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
LONG WINAPI Probe(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

// The filter in force, read by swapping it out and back.
LPTOP_LEVEL_EXCEPTION_FILTER Current() {
  LPTOP_LEVEL_EXCEPTION_FILTER now = ::SetUnhandledExceptionFilter(Probe);
  ::SetUnhandledExceptionFilter(now);
  return now;
}

TEST(CrashDump, InForceWhileItLivesAndThePreviousFilterAfter) {
  const LPTOP_LEVEL_EXCEPTION_FILTER outer = ::SetUnhandledExceptionFilter(Earlier);
  {
    CkvDump dump;
    const LPTOP_LEVEL_EXCEPTION_FILTER mine = Current();
    EXPECT_NE(nullptr, mine);
    EXPECT_NE(Earlier, mine);
    {
      // A second object stacks on the first and gives it back.
      CkvDump inner;
      EXPECT_EQ(mine, Current()) << "the same static filter";
    }
    EXPECT_EQ(mine, Current());
  }
  EXPECT_EQ(Earlier, Current());
  ::SetUnhandledExceptionFilter(outer);
}

TEST(CrashDump, OneProcessWideObject) {
  const LPTOP_LEVEL_EXCEPTION_FILTER outer = ::SetUnhandledExceptionFilter(Earlier);
  CkvDump* first = GetKvDump();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, GetKvDump());
  EXPECT_NE(Earlier, Current()) << "created, and so in force";
  InstallDump(L"name", L"tag");
  InstallDump(nullptr, nullptr);  // null texts are taken as empty
  EXPECT_EQ(first, GetKvDump());
  ::SetUnhandledExceptionFilter(outer);
}

}  // namespace
