// The run-time binding of the line service: one library load per run, one look-up per function,
// failures remembered, arguments and results passed through unchanged.
#include <gtest/gtest.h>

#include "platform/sync/library.h"
#include "telephony/telephony_loader.h"
#include "tests/telephony/fake_line_service.h"

namespace qv::test {
namespace {

TEST(TelephonyLoader, WithoutTheLibraryEveryEntryPointIsUnavailableAndLoadingIsTriedOnce) {
  ScopedFakeService fake;
  fake.binder.libraryPresent = false;
  HLINEAPP app = 0;
  DWORD count = 99;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(lineInitialize(&app, nullptr, nullptr, nullptr, &count), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineClose(1), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineDeallocateCall(1), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineGetDevCaps(1, 0, 0, 0, nullptr), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineGetID(1, 0, 0, 1, nullptr, "comm"), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineMakeCall(1, nullptr, nullptr, 0, nullptr), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineNegotiateAPIVersion(1, 0, 0, 0, nullptr, nullptr), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineOpen(1, 0, nullptr, 0, 0, 0, 0, 0, nullptr), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(lineShutdown(1), LINEERR_OPERATIONUNAVAIL);
  }
  EXPECT_EQ(fake.binder.loads, 1);
  EXPECT_TRUE(fake.binder.lookups.empty());
  EXPECT_EQ(app, 0u);
  EXPECT_EQ(count, 99u);
}

TEST(TelephonyLoader, AMissingFunctionIsLookedUpOnceAndTheOthersStillWork) {
  ScopedFakeService fake;
  fake.binder.missing = {"lineMakeCall"};
  HCALL call = 0;
  EXPECT_EQ(lineMakeCall(0x201, &call, nullptr, 0, nullptr), LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(lineMakeCall(0x201, &call, nullptr, 0, nullptr), LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(fake.binder.lookups["lineMakeCall"], 1);
  EXPECT_EQ(fake.service.Count("lineMakeCall"), 0);

  // The library loaded for the first look-up serves the others; each is looked up once.
  EXPECT_EQ(lineClose(0x201), 0);
  EXPECT_EQ(lineClose(0x202), 0);
  EXPECT_EQ(fake.binder.lookups["lineClose"], 1);
  EXPECT_EQ(fake.binder.loads, 1);
  EXPECT_EQ(fake.service.calls, (std::vector<std::string>{"lineClose 0x201", "lineClose 0x202"}));
}

TEST(TelephonyLoader, ArgumentsAndResultsPassThroughUnchanged) {
  ScopedFakeService fake;
  fake.service.devices.resize(3);
  fake.service.devices[2].negotiate = LINEERR_NODEVICE;
  HLINEAPP app = 0;
  DWORD count = 0;
  EXPECT_EQ(lineInitialize(&app, nullptr, nullptr, nullptr, &count), 0);
  EXPECT_EQ(app, 0x101u);
  EXPECT_EQ(count, 3u);
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  EXPECT_EQ(lineNegotiateAPIVersion(app, 2, 0x10004, 0x10004, &version, &ext), LINEERR_NODEVICE);
  EXPECT_EQ(lineNegotiateAPIVersion(app, 1, 0x10004, 0x10004, &version, &ext), 0);
  EXPECT_EQ(version, TAPI_VERSION_1_4);
  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  HCALL call = 0;
  EXPECT_EQ(lineMakeCall(0x203, &call, nullptr, 0, &params), 7);
  EXPECT_EQ(fake.service.callTarget, &call);
}

TEST(TelephonyLoader, ThePlatformBindingFindsNoLibraryUnderAnUnknownName) {
  // The real binder: a name that no folder holds loads nothing.
  qv::telephony::LibraryBinder binder;
  EXPECT_EQ(binder.Load("NOSUCHTELEPHONYLIBRARY.DLL"), nullptr);
  EXPECT_EQ(qv::sync::SharedLibraryFileName(qv::telephony::kTelephonyLibrary), "libtapi32.so");
}

}  // namespace
}  // namespace qv::test
