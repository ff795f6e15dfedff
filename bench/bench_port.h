// The port as the benches open it: overlapped, 115200 8N1 without flow control, the engine's
// time-outs and the driver's default queues. A port that cannot be opened ends the bench.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/comm/comm_api.h"
#include "platform/sync/last_error.h"

namespace qv::bench {

inline HANDLE OpenBenchPort(const std::string& path) {
  const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s: error %lu\n", path.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    std::exit(2);
  }
  DCB dcb{};
  GetCommState(port, &dcb);
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fOutX = dcb.fInX = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  SetCommState(port, &dcb);
  COMMTIMEOUTS timeouts{250, 0, 1000, 0, 0};
  SetCommTimeouts(port, &timeouts);
  SetupComm(port, 4096, 4096);
  return port;
}

}  // namespace qv::bench
