// Message boxes in the native build: recorded, answered from a script.
#include <deque>

#include "persist/msgbox.h"
#include "persist/native_seams.h"

namespace persist {

namespace {

std::vector<RecordedBox> g_boxes;
std::deque<int> g_answers;

// The button Enter presses: the first, or the second where the style says.
int DefaultButton(unsigned style) {
  const bool second = (style & BOX_DEFBUTTON2) != 0;
  switch (style & BOX_BUTTONS_MASK) {
    case BOX_OKCANCEL:
      return second ? BOX_IDCANCEL : BOX_IDOK;
    case BOX_RETRYCANCEL:
      return second ? BOX_IDCANCEL : BOX_IDRETRY;
    case BOX_YESNO:
      return second ? BOX_IDNO : BOX_IDYES;
    default:
      return BOX_IDOK;
  }
}

}  // namespace

int ShowMessageBox(void* owner, const char* text, const char* caption, unsigned style) {
  g_boxes.push_back(RecordedBox{owner, text ? text : "", caption ? caption : "", style});
  if (g_answers.empty()) return DefaultButton(style);
  int answer = g_answers.front();
  g_answers.pop_front();
  return answer;
}

const std::vector<RecordedBox>& RecordedBoxes() {
  return g_boxes;
}

void ClearRecordedBoxes() {
  g_boxes.clear();
  g_answers.clear();
}

void ScriptBoxAnswer(int answer) {
  g_answers.push_back(answer);
}

}  // namespace persist
