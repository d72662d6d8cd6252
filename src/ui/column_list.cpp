#include "ui/column_list.h"

#include <cstring>

namespace ui {

namespace {

constexpr int LINE_PADDING_PX = 2;  // above and below the text of a line
constexpr int COLUMN_GAP_PX = 4;    // between a cut field and the next column
constexpr int MAX_COLUMNS = 16;
constexpr char FIELD_SEPARATOR = '\t';

// Left edges of the columns in the list's client coordinates.
void ColumnLefts(HWND list, const int* headingIds, int count, int* lefts) {
  HWND dialog = GetParent(list);
  for (int i = 0; i < count; ++i) {
    RECT heading{};
    GetWindowRect(GetDlgItem(dialog, headingIds[i]), &heading);
    POINT corner{heading.left, heading.top};
    ScreenToClient(list, &corner);
    lefts[i] = corner.x;
  }
}

}  // namespace

void MeasureColumnLine(HWND dialog, MEASUREITEMSTRUCT& item) {
  HDC dc = GetDC(dialog);
  HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  item.itemHeight = static_cast<UINT>(metrics.tmHeight + 2 * LINE_PADDING_PX);
}

void DrawColumnLine(const DRAWITEMSTRUCT& item, const int* headingIds, int count,
                    const char* text, int textColor) {
  HDC dc = item.hDC;
  RECT line = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  FillRect(dc, &line, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (count > MAX_COLUMNS) count = MAX_COLUMNS;
  if (text && count > 0) {
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : textColor));
    SetBkMode(dc, TRANSPARENT);
    int lefts[MAX_COLUMNS];
    ColumnLefts(item.hwndItem, headingIds, count, lefts);
    const char* field = text;
    for (int column = 0; column < count && field; ++column) {
      const char* end = std::strchr(field, FIELD_SEPARATOR);
      const int length = static_cast<int>(end ? end - field : std::strlen(field));
      RECT box = line;
      box.left = lefts[column];
      if (end && column + 1 < count) box.right = lefts[column + 1] - COLUMN_GAP_PX;
      DrawTextA(dc, field, length, &box,
                DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
      field = end ? end + 1 : nullptr;
    }
  }
  if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &line);
}

}  // namespace ui
