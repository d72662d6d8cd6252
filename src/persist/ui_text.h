// The control text seam: sets the text of a control of a dialog window
// (SetDlgItemTextA on Windows). The native build records the texts instead
// (see ui_text_record.h).
#pragma once

namespace persist {

void SetControlText(void* window, int controlId, const char* text);

}  // namespace persist
