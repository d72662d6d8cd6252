// Lists that draw their own lines in columns: each line is a text whose
// fields are separated by tabs, and each column starts at the left edge of
// a heading control above the list, so the dialog template alone decides
// the layout in every language. Used by the search's node list and the bus
// monitor.
#pragma once

#include <windows.h>

namespace ui {

// Lines as high as the dialog's font, with a little air (WM_MEASUREITEM).
void MeasureColumnLine(HWND dialog, MEASUREITEMSTRUCT& item);

// Draws one line (WM_DRAWITEM): the fields of `text` in the columns of the
// `count` headings `headingIds`, each cut with an ellipsis where it would
// run into the next, the last field running to the right edge; in
// `textColor` (a COLOR_* index) unless the line is selected.
void DrawColumnLine(const DRAWITEMSTRUCT& item, const int* headingIds, int count,
                    const char* text, int textColor);

}  // namespace ui
