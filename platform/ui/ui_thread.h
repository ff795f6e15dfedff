// The user-interface thread and the requests other threads make to it.
//
// Only the UI thread touches widgets and shows boxes. A worker that needs the UI hands a function
// to RunOnUiThread and waits until the UI thread has run it. The UI thread serves these requests
// from its event loop (through the wake hook that the Qt side installs) and from PumpingWait, the
// only way the UI thread may wait for a worker: so a worker that waits on the UI always finishes.
// Plain C++: the engine uses it without Qt.
#pragma once

#include <functional>

#include "platform/types.h"

namespace qv::ui {

// Makes the calling thread the UI thread (program start, GUI test set-up).
void SetUiThread();
// Forgets the UI thread (test tear-down). Requests then run on the calling thread.
void ClearUiThread();
bool IsUiThread();

// Called (from any thread) when a request is queued, to wake the UI thread's event loop.
void SetUiWakeHook(std::function<void()> hook);

// Runs fn on the UI thread and returns when it has run. On the UI thread, or while no UI thread
// is set, fn runs at once on the calling thread.
void RunOnUiThread(const std::function<void()>& fn);

// Runs every queued request (the UI thread's event loop calls it after a wake).
void ServeUiRequests();

// Waits like WaitForMultipleObjects (any of up to 63 objects) and serves the UI requests while
// it waits, those queued before it began included. Off the UI thread it is a plain wait. The
// wait is a command in progress (below) for as long as it lasts.
DWORD PumpingWait(DWORD count, const HANDLE* handles, DWORD milliseconds);

// A command of the UI thread that another thread's command must not run inside: a port's open
// or close, or any wait of the UI thread. Requests are still served meanwhile (a worker may need
// a text or a box to finish), but a command that would change what the running one works on,
// such as a test clicking Open/Close while the user's close waits for the read thread, asks
// UiCommandInProgress and comes back once it has returned. UI thread only.
class UiCommandScope {
 public:
  UiCommandScope();
  ~UiCommandScope();
  UiCommandScope(const UiCommandScope&) = delete;
  UiCommandScope& operator=(const UiCommandScope&) = delete;
};
bool UiCommandInProgress();

}  // namespace qv::ui
