// Native build only: the control texts that SetControlText recorded.
#pragma once

#include <string>
#include <vector>

namespace persist {

struct RecordedControlText {
  void* window;
  int controlId;
  std::string text;
};

// Texts set since the last ClearControlTexts, oldest first.
const std::vector<RecordedControlText>& RecordedControlTexts();
void ClearControlTexts();

}  // namespace persist
