// The kernel objects behind the HANDLEs that CreateFileA gives: an open port (a driver core over
// its line), or a plain file for any other name that opens.
#pragma once

#include <memory>
#include <string>

#include "platform/comm/driver_core.h"
#include "platform/sync/kernel_object.h"

namespace qv::comm {

class CommPort final : public qv::sync::KernelObject {
 public:
  CommPort(std::shared_ptr<Line> line, bool overlapped, std::string device)
      : core_(std::move(line), overlapped), device_(std::move(device)) {}
  DriverCore& core() { return core_; }
  const std::string& device() const { return device_; }
  // Pending requests complete with ERROR_OPERATION_ABORTED before the handle is gone.
  bool OnClose() override {
    core_.Close();
    return true;
  }

 private:
  DriverCore core_;
  const std::string device_;
};

class FileObject final : public qv::sync::KernelObject {
 public:
  FileObject(int fd, DWORD type) : fd_(fd), type_(type) {}
  ~FileObject() override;
  int fd() const { return fd_; }
  DWORD type() const { return type_; }
  bool OnClose() override;

 private:
  int fd_;
  const DWORD type_;
};

}  // namespace qv::comm
