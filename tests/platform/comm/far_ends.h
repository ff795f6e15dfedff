// The far ends the conformance suite runs against. Each opens a port whose far end echoes every
// byte, and can hold the port's output the way that far end can.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/comm/virtual_port_control.h"
#include "tests/common/fake_serial_tty.h"
#include "tests/common/socat_cat.h"
#include "tests/platform/comm/comm_test_support.h"

namespace qv::comm::testing {

class FarEnd {
 public:
  virtual ~FarEnd() = default;
  virtual bool Ready(std::string* why) = 0;
  virtual std::string PortName() = 0;
  // Holds the port's output (writes stay pending) and lets it go again.
  virtual void Hold(HANDLE port) = 0;
  virtual void Release(HANDLE port) = 0;
  // Whether Hold holds the output by CTS flow control (else by XOFF).
  virtual bool HoldsByCts() const { return false; }
  // Whether the line sends at its rate (a pseudo-terminal takes every byte at once).
  virtual bool Paced() const { return false; }
  // Whether the far end itself can send XOFF/XON (a scripted far end can).
  virtual bool SendsXonXoff() const { return false; }
  virtual void SendXoff() {}
  virtual void SendXon() {}
};

// vloop0: RTS drives CTS, so dropping RTS with CTS output flow on holds the output.
class LoopbackFarEnd : public FarEnd {
 public:
  bool Ready(std::string*) override { return true; }
  std::string PortName() override { return "vloop0"; }
  void Hold(HANDLE port) override {
    DCB dcb;
    GetCommState(port, &dcb);
    dcb.fOutxCtsFlow = 1;
    SetCommState(port, &dcb);
    EscapeCommFunction(port, CLRRTS);
    WaitUntil([&] {
      DWORD ms = 0;
      return GetCommModemStatus(port, &ms) && !(ms & MS_CTS_ON);
    });
  }
  void Release(HANDLE port) override { EscapeCommFunction(port, SETRTS); }
  bool HoldsByCts() const override { return true; }
  bool Paced() const override { return true; }
  bool SendsXonXoff() const override { return true; }
  void SendXoff() override { InjectFromFarEnd("vloop0", "\x13", 1); }
  void SendXon() override { InjectFromFarEnd("vloop0", "\x11", 1); }
};

// A pseudo-terminal pair; the test's own thread on the master echoes and sends XON/XOFF.
class PtyFarEnd : public FarEnd {
 public:
  PtyFarEnd() {
    if (pty_.ok()) echo_ = std::thread([this] { pty_.EchoUntil(stop_); });
  }
  ~PtyFarEnd() override {
    stop_ = true;
    if (echo_.joinable()) echo_.join();
  }
  bool Ready(std::string* why) override {
    if (!pty_.ok()) *why = "no pseudo-terminal";
    return pty_.ok();
  }
  std::string PortName() override { return pty_.path(); }
  void Hold(HANDLE port) override {
    SetOutX(port);
    SendXoff();
    // The XOFF crosses the tty layer in a kernel worker, which a loaded machine runs late (50 ms
    // was seen to fall short under a sanitizer with a build beside it).
    std::this_thread::sleep_for(Ms(200));
  }
  void Release(HANDLE) override { SendXon(); }
  bool SendsXonXoff() const override { return true; }
  void SendXoff() override { pty_.Write("\x13"); }
  void SendXon() override { pty_.Write("\x11"); }

  static void SetOutX(HANDLE port) {
    DCB dcb;
    GetCommState(port, &dcb);
    dcb.fOutX = 1;
    SetCommState(port, &dcb);
  }

 private:
  PtyPair pty_;
  std::atomic<bool> stop_{false};
  std::thread echo_;
};

// A serial port's kernel queue and CTS in front of a pseudo-terminal (the test echoes on its
// master side): the output is held by CTS flow control with CTS off, while the bytes sit in the
// kernel's queue.
class FakeTtyFarEnd : public FarEnd {
 public:
  bool Ready(std::string* why) override {
    if (!tty_.ok()) *why = "no pseudo-terminal";
    return tty_.ok();
  }
  std::string PortName() override { return tty_.path(); }
  void Hold(HANDLE port) override {
    DCB dcb;
    GetCommState(port, &dcb);
    dcb.fOutxCtsFlow = 1;
    SetCommState(port, &dcb);
    tty_.SetCts(false);
  }
  void Release(HANDLE) override { tty_.SetCts(true); }
  bool HoldsByCts() const override { return true; }
  bool Paced() const override { return true; }
  bool SendsXonXoff() const override { return true; }
  void SendXoff() override { tty_.pty().Write("\x13"); }
  void SendXon() override { tty_.pty().Write("\x11"); }
  qv::test::FakeSerialTty& tty() { return tty_; }

 private:
  qv::test::FakeSerialTty tty_{/*echo=*/true};
};

// socat owns the pty and runs cat behind it: a real peer that nobody here wrote. It cannot be
// told to send XOFF, so the port holds itself: with XON/XOFF output flow on, an XOFF it sends
// comes back through cat; SETXON restarts the output.
class SocatFarEnd : public FarEnd {
 public:
  bool Ready(std::string* why) override {
    if (!socat_.ok()) {
      *why = "socat did not start";
      return false;
    }
    return true;
  }
  std::string PortName() override { return socat_.path(); }
  void Hold(HANDLE port) override {
    PtyFarEnd::SetOutX(port);
    TransmitCommChar(port, 0x13);
    // The XOFF goes out, through socat and cat, and back: wait until the port holds its output.
    WaitUntil(
        [&] {
          DWORD errors = 0;
          COMSTAT status{};
          return ClearCommError(port, &errors, &status) && status.fXoffHold;
        },
        Ms(5000));
  }
  void Release(HANDLE port) override { EscapeCommFunction(port, SETXON); }

 private:
  qv::test::SocatCat socat_;
};

}  // namespace qv::comm::testing
