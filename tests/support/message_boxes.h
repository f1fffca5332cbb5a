// The message boxes the program would show, recorded through the framework's seam instead of
// shown (for the tests that link the framework). One recorder at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "system.h"

namespace koe_test {

class MessageBoxes {
 public:
  struct Box {
    HWND owner;
    std::string text, caption;
    UINT type;
  };
  MessageBoxes() {
    fw::TheTestSeam().message_box = [this](HWND owner, const std::string& text,
                                           const std::string& caption, UINT type) {
      boxes.push_back({owner, text, caption, type});
      if (while_shown) while_shown();
      return IDOK;
    };
  }
  ~MessageBoxes() { fw::TheTestSeam().message_box = nullptr; }
  MessageBoxes(const MessageBoxes&) = delete;
  MessageBoxes& operator=(const MessageBoxes&) = delete;

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Box& box : boxes) texts.push_back(box.text);
    return texts;
  }

  std::vector<Box> boxes;
  std::function<void()> while_shown;  // runs while a box would be up
};

}  // namespace koe_test
