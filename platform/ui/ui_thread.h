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
// it waits. Off the UI thread it is a plain wait.
DWORD PumpingWait(DWORD count, const HANDLE* handles, DWORD milliseconds);

}  // namespace qv::ui
