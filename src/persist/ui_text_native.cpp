#include "persist/ui_text.h"
#include "persist/ui_text_record.h"

namespace persist {

namespace {
std::vector<RecordedControlText> recorded;
}

void SetControlText(void* window, int controlId, const char* text) {
  recorded.push_back({window, controlId, text});
}

const std::vector<RecordedControlText>& RecordedControlTexts() {
  return recorded;
}

void ClearControlTexts() {
  recorded.clear();
}

}  // namespace persist
