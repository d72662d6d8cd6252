// Native build only: the side of the message box and string seams that
// tests see. Boxes are recorded instead of shown, and the string table can
// be swapped for one a test makes up.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace persist {

struct ResString {
  unsigned id;
  const char* text;
};

// The English string table, generated from the STRINGTABLE of tarnres.rc.
extern const ResString ENGLISH_STRINGS[];
extern const size_t ENGLISH_STRING_COUNT;

// LoadResString reads `table` from now on (null and 0: no string loads, as
// with no resource library); UseEnglishStrings goes back to the English one.
void UseStringTable(const ResString* table, size_t count);
void UseEnglishStrings();

struct RecordedBox {
  void* owner;
  std::string text;
  std::string caption;
  unsigned style;
};

// The boxes shown since the last ClearRecordedBoxes, oldest first.
const std::vector<RecordedBox>& RecordedBoxes();

// Forgets the recorded boxes and any answers still scripted.
void ClearRecordedBoxes();

// Queues the answer of the next box. A box with no scripted answer is
// answered with its default button: the first (OK, Retry for Retry/Cancel,
// Yes for Yes/No), or the second where the style names it default.
void ScriptBoxAnswer(int answer);

}  // namespace persist
