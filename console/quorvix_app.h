// The application object: it reads the program's version when it is built, and its
// initialisation runs the console modally and then tells the monitoring hook.
#pragma once

#include <QString>

#include "support/version/version_info.h"

class CQuorvixApp {
 public:
  CQuorvixApp();

  // False when the program's version resource could not be read: the program must not start.
  bool IsValid() const { return version_.IsLoaded(); }
  const VersionInfo& Version() const { return version_; }

  // Pins the process to one processor, runs the console until it closes, reports the end to the
  // monitoring hook. Returns false: the program ends afterwards.
  bool InitInstance();

 private:
  VersionInfo version_;
};
