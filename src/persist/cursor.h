// The wait cursor seam: long operations show the wait cursor and put the
// previous one back afterwards (SetCursor on Windows). The native build
// only counts them (see cursor_record.h).
#pragma once

namespace persist {

// Shows the wait cursor; returns the cursor shown before, for RestoreCursor.
void* ShowWaitCursor();

// Shows `previous` again (a value ShowWaitCursor returned).
void RestoreCursor(void* previous);

}  // namespace persist
