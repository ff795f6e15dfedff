// Scripted message boxes for tests: a box that has no scripted answer fails the running test.
#pragma once

#include <gtest/gtest.h>

#include "platform/ui/message_box.h"

namespace qv::test {

class TestMessageBoxes : public qv::ui::ScriptedMessageBoxes {
 public:
  TestMessageBoxes() {
    onUnanswered = [](const Shown& box) {
      ADD_FAILURE() << "Unexpected message box \"" << box.caption << "\": " << box.text;
    };
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& b : Boxes()) texts.push_back(b.text);
    return texts;
  }
};

}  // namespace qv::test
