// The only operations through which the engine reaches the console.
#pragma once

#include "platform/types.h"

class ConsoleSink {
 public:
  // One entry of the console log (the text may hold CR LF). Called on the thread that calls
  // StartComm; the console may drop it.
  virtual void LogText(const char* text) = 0;
  // Received bytes (count > 0), on the read thread; valid only during the call. Nonzero goes on
  // reading, 0 ends the read thread with a close request.
  virtual int OnCommData(const BYTE* data, DWORD count) = 0;
  // Posts (never sends) the console's Open/Close command; the UI thread then stops the
  // connection. Called from the engine's threads.
  virtual void RequestClose() = 0;

 protected:
  ~ConsoleSink() = default;
};
