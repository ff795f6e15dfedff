// Completion events set a moment after the result is stored: the result shows at once, and a set
// put off never lands on the record's next request.
#include <gtest/gtest.h>

#include "platform/comm/comm_api.h"
#include "platform/comm/overlapped_io.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"

namespace qv::test {
namespace {

using namespace qv::comm;

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

TEST(DeferredCompletion, ASetPutOffLandsOnlyOnTheRequestItWasFor) {
  enum Between { kNothing, kNextRequest, kTakenOver };
  for (const Between between : {kNothing, kNextRequest, kTakenOver}) {
    SCOPED_TRACE(between);
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    MarkPending(&ov);
    const DeferredEvent put = StoreCompletionResultDeferred(&ov, ERROR_SUCCESS, 7);
    DWORD count = 0;
    EXPECT_TRUE(GetOverlappedResult(nullptr, &ov, &count, FALSE));  // the result shows at once
    EXPECT_EQ(count, 7u);
    EXPECT_FALSE(IsSet(ov.hEvent));

    DeferredEvent taken;
    if (between == kNextRequest) MarkPending(&ov);  // the caller saw the result and goes on
    if (between == kTakenOver) {
      ASSERT_TRUE(TakeOverDeferredEvent(ov.hEvent, &taken));
    }
    SetDeferredEvents({put});
    EXPECT_EQ(IsSet(ov.hEvent), between == kNothing);
    if (between == kTakenOver) {
      SetDeferredEvents({taken});
      EXPECT_TRUE(IsSet(ov.hEvent));
    }
    // Nothing is left put off for the event.
    EXPECT_FALSE(TakeOverDeferredEvent(ov.hEvent, &taken));
    CloseHandle(ov.hEvent);
  }
}

}  // namespace
}  // namespace qv::test
