// A host without windows for the driver tests' logic: check states and texts in maps, boxes
// recorded (answered IDOK), console commands counted.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "drivertests/host.h"

namespace qv::test {

class FakeTestHost : public qv::drivertests::TestHost {
 public:
  bool IsChecked(int id) override {
    std::lock_guard<std::mutex> hold(lock_);
    return checked_[id];
  }
  std::string ItemText(int id) override {
    std::lock_guard<std::mutex> hold(lock_);
    return texts_[id];
  }
  void SetItemText(int id, const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock_);
    texts_[id] = text;
  }
  void EnableItem(int id, bool enable) override {
    std::lock_guard<std::mutex> hold(lock_);
    enabled_[id] = enable;
  }
  void ConsoleOpenClose() override {
    std::lock_guard<std::mutex> hold(lock_);
    ++openCloses_;
  }
  void ConsolePortOpened(int) override {}
  bool ConsoleSelectSpeed(const std::string&) override { return false; }
  std::string ConsolePortText() override { return {}; }
  std::string ConsoleCommandLineText() override { return {}; }
  int ShowBox(const std::string& text, const std::string&, UINT) override {
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back(text);
    return IDOK;
  }
  void BindTimer(WPARAM, std::function<void()>) override {}
  void ArmTimer(WPARAM, UINT) override {}
  void DisarmTimer(WPARAM) override {}
  void SetWaitCursor(bool) override {}
  bool Ending() override { return ending_; }

  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> hold(lock_);
    return boxes_;
  }
  void ClearBoxes() {
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.clear();
  }
  void SetChecked(int id, bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    checked_[id] = on;
  }
  int OpenCloses() {
    std::lock_guard<std::mutex> hold(lock_);
    return openCloses_;
  }

  std::atomic<bool> ending_{false};

 private:
  std::mutex lock_;
  std::map<int, bool> checked_;
  std::map<int, bool> enabled_;
  std::map<int, std::string> texts_;
  std::vector<std::string> boxes_;
  int openCloses_ = 0;
};

}  // namespace qv::test
