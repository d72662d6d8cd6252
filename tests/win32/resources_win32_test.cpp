// The language libraries tarnres.dll and tarnresd.dll as the program meets
// them: every dialog is created from its template and each control is checked
// for its place (dialog units converted by the dialog itself), class, style,
// tab order and English caption; both libraries must carry the same ids.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"

namespace {

// One control in template order, which is also the tab order. `style` holds
// the bits that must be set; for buttons and statics its low bits are the
// exact control type, and WS_TABSTOP must match exactly.
struct Ctl {
  int id;
  const char* cls;
  int x, y, w, h;
  const char* text;  // English caption
  DWORD style;
};

constexpr DWORD TAB = WS_TABSTOP;
constexpr DWORD LIST = LBS_USETABSTOPS | LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD DROP = CBS_DROPDOWNLIST | WS_TABSTOP;
constexpr DWORD BIT_BOX = BS_AUTOCHECKBOX | BS_LEFTTEXT | WS_TABSTOP;
constexpr DWORD RO = ES_READONLY | WS_TABSTOP;

const Ctl kMain[] = {
    {IDC_MAIN_MAKER, "Static", 128, 10, 148, 9, "", SS_CENTER},
    {IDC_MAIN_PORT_LABEL, "Static", 10, 32, 108, 8, "DeviceNet Dongle &Port", SS_LEFT},
    {IDC_MAIN_PORT, "ComboBox", 123, 30, 70, 190, "", DROP},
    {IDC_STATIC, "Static", 213, 32, 84, 11, "DeviceNet Dongle Status", SS_LEFT},
    {IDC_MAIN_BUS_STATUS, "Edit", 304, 30, 98, 12, "", RO},
    {IDC_MAIN_BAUD_LABEL, "Static", 10, 52, 107, 8, "&Baud Rate of DeviceNet Dongle", SS_LEFT},
    {IDC_MAIN_BAUD, "ComboBox", 123, 50, 70, 50, "", DROP},
    {IDC_MAIN_ADDRESS_LABEL, "Static", 10, 72, 95, 8, "Curren&t Slave Address", SS_LEFT},
    {IDC_MAIN_ADDRESS, "Edit", 123, 70, 70, 12, "", TAB},
    {IDC_MAIN_PROGRESS, "Static", 213, 72, 189, 9, "", SS_LEFT},
    {IDC_MAIN_HEX_LABEL, "Static", 10, 105, 30, 8, "&Edit", SS_LEFT},
    {IDC_MAIN_HEX, "Edit", 51, 104, 50, 12, "", TAB},
    {IDC_MAIN_BIT7_CHECK, "Button", 117, 105, 15, 8, "&7", BIT_BOX},
    {IDC_MAIN_BIT6_CHECK, "Button", 132, 105, 15, 8, "&6", BIT_BOX},
    {IDC_MAIN_BIT5_CHECK, "Button", 147, 105, 15, 8, "&5", BIT_BOX},
    {IDC_MAIN_BIT4_CHECK, "Button", 162, 105, 15, 8, "&4", BIT_BOX},
    {IDC_MAIN_BIT3_CHECK, "Button", 177, 105, 15, 8, "&3", BIT_BOX},
    {IDC_MAIN_BIT2_CHECK, "Button", 192, 105, 15, 8, "&2", BIT_BOX},
    {IDC_MAIN_BIT1_CHECK, "Button", 207, 105, 15, 8, "&1", BIT_BOX},
    {IDC_MAIN_BIT0_CHECK, "Button", 222, 105, 15, 8, "&0", BIT_BOX},
    {IDC_MAIN_FREEZE, "Button", 10, 124, 95, 10, "F&reeze Outputs", BS_AUTOCHECKBOX | TAB},
    {IDC_MAIN_SINGLE_BIT, "Button", 117, 124, 95, 10, "S&ingle Bit Mode", BS_AUTOCHECKBOX | TAB},
    {IDC_MAIN_COMM_ACTIVE, "Button", 227, 124, 90, 10, "Communication Active", BS_CHECKBOX},
    {IDC_STATIC, "Static", 10, 139, 70, 8, "&Output Data", SS_LEFT},
    {IDC_STATIC, "Static", 50, 149, 61, 8, "76543210", SS_LEFT},
    {IDC_MAIN_OUTPUT_LIST, "ListBox", 10, 158, 101, 91, "", LIST},
    {IDC_STATIC, "Static", 117, 139, 70, 8, "Input Data", SS_LEFT},
    {IDC_STATIC, "Static", 157, 149, 61, 8, "76543210", SS_LEFT},
    {IDC_MAIN_INPUT_LIST, "ListBox", 117, 158, 101, 91, "", LIST},
    {IDC_STATIC, "Button", 227, 139, 175, 109, "Identification", BS_GROUPBOX},
    {IDC_STATIC, "Static", 236, 160, 48, 10, "Vendor ID", SS_LEFT},
    {IDC_MAIN_VENDOR_ID, "Edit", 289, 160, 106, 12, "", RO},
    {IDC_STATIC, "Static", 236, 173, 48, 10, "Device Type", SS_LEFT},
    {IDC_MAIN_DEVICE_TYPE, "Edit", 289, 173, 106, 12, "", RO},
    {IDC_STATIC, "Static", 236, 186, 48, 10, "Product Code", SS_LEFT},
    {IDC_MAIN_PRODUCT_CODE, "Edit", 289, 186, 106, 12, "", RO},
    {IDC_STATIC, "Static", 236, 199, 48, 10, "Revision", SS_LEFT},
    {IDC_MAIN_REVISION, "Edit", 289, 199, 106, 12, "", RO},
    {IDC_STATIC, "Static", 236, 212, 48, 10, "Serial Number", SS_LEFT},
    {IDC_MAIN_SERIAL_NUMBER, "Edit", 289, 212, 106, 12, "", RO},
    {IDC_STATIC, "Static", 236, 226, 48, 10, "Product Name", SS_LEFT},
    {IDC_MAIN_PRODUCT_NAME, "Edit", 289, 226, 106, 12, "", RO},
    {IDC_MAIN_BIT7_BUTTON, "Button", 117, 105, 10, 11, "&7", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT6_BUTTON, "Button", 132, 105, 10, 11, "&6", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT5_BUTTON, "Button", 147, 105, 10, 11, "&5", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT4_BUTTON, "Button", 162, 105, 10, 11, "&4", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT3_BUTTON, "Button", 177, 105, 10, 11, "&3", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT2_BUTTON, "Button", 192, 105, 10, 11, "&2", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT1_BUTTON, "Button", 207, 105, 10, 11, "&1", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_BIT0_BUTTON, "Button", 222, 105, 10, 11, "&0", BS_PUSHBUTTON | TAB},
    {IDC_MAIN_LOG, "Button", 337, 124, 51, 10, "&Log", BS_AUTOCHECKBOX},
};

const Ctl kAbout[] = {
    {IDC_ABOUT_ICON, "Static", 15, 10, 20, 20, "", SS_LEFT},
    {IDC_ABOUT_PRODUCT, "Static", 9, 40, 175, 10, "Quillon", SS_CENTER},
    {IDC_ABOUT_MAKER, "Static", 9, 55, 175, 10, "", SS_CENTER},
    {IDC_ABOUT_VERSION, "Static", 6, 70, 180, 10, "", SS_CENTER},
    {IDC_STATIC, "Static", 9, 85, 175, 1, "", SS_BLACKFRAME},
    {IDC_ABOUT_NOTICE, "Static", 9, 95, 175, 10, "", SS_CENTER},
    {IDOK, "Button", 72, 110, 50, 14, "&OK", BS_DEFPUSHBUTTON | TAB},
};

// Our own layout: one line per node and rate, its fields in the columns
// that the headings above the list start.
const Ctl kSearch[] = {
    {IDC_STATIC, "Static", 7, 7, 526, 8, "Addresses in brackets did not answer:", SS_LEFT},
    {IDC_SEARCH_HEAD_MAC, "Static", 9, 20, 26, 8, "MAC ID", SS_LEFT},
    {IDC_SEARCH_HEAD_RATE, "Static", 37, 20, 36, 8, "Baud rate", SS_LEFT},
    {IDC_SEARCH_HEAD_VENDOR, "Static", 75, 20, 108, 8, "Vendor", SS_LEFT},
    {IDC_SEARCH_HEAD_DEVICE_TYPE, "Static", 185, 20, 106, 8, "Device type", SS_LEFT},
    {IDC_SEARCH_HEAD_PRODUCT_CODE, "Static", 293, 20, 46, 8, "Product code", SS_LEFT},
    {IDC_SEARCH_HEAD_REVISION, "Static", 341, 20, 32, 8, "Revision", SS_LEFT},
    {IDC_SEARCH_HEAD_SERIAL, "Static", 375, 20, 50, 8, "Serial number", SS_LEFT},
    {IDC_SEARCH_HEAD_PRODUCT_NAME, "Static", 427, 20, 104, 8, "Product name", SS_LEFT},
    {IDC_SEARCH_LIST, "ListBox", 7, 30, 526, 150, "",
     LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | TAB},
    {IDC_SEARCH_PROGRESS, "Static", 7, 185, 526, 9, "", SS_LEFT},
    {IDOK, "Button", 245, 201, 50, 14, "Abort", BS_DEFPUSHBUTTON | TAB},
};

// Our own layout: the frames in columns that the headings start.
const Ctl kMonitor[] = {
    {IDC_MON_HEAD_TIME, "Static", 9, 7, 48, 8, "Time (\xB5s)", SS_LEFT},
    {IDC_MON_HEAD_DIRECTION, "Static", 59, 7, 18, 8, "Dir", SS_LEFT},
    {IDC_MON_HEAD_ID, "Static", 79, 7, 26, 8, "CAN ID", SS_LEFT},
    {IDC_MON_HEAD_GROUP, "Static", 107, 7, 24, 8, "Group", SS_LEFT},
    {IDC_MON_HEAD_MESSAGE, "Static", 133, 7, 34, 8, "Msg ID", SS_LEFT},
    {IDC_MON_HEAD_MAC, "Static", 169, 7, 26, 8, "MAC ID", SS_LEFT},
    {IDC_MON_HEAD_LENGTH, "Static", 197, 7, 22, 8, "Len", SS_LEFT},
    {IDC_MON_HEAD_DATA, "Static", 221, 7, 86, 8, "Data", SS_LEFT},
    {IDC_MON_HEAD_MEANING, "Static", 309, 7, 322, 8, "Meaning", SS_LEFT},
    {IDC_MON_LIST, "ListBox", 7, 17, 626, 190, "",
     LBS_OWNERDRAWFIXED | LBS_NODATA | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | TAB},
    {IDC_MON_PAUSE, "Button", 7, 213, 50, 10, "&Pause", BS_AUTOCHECKBOX | TAB},
    {IDC_MON_CLEAR, "Button", 60, 211, 50, 14, "C&lear", BS_PUSHBUTTON | TAB},
    {IDC_STATIC, "Static", 120, 214, 60, 8, "&MAC ID filter:", SS_LEFT},
    {IDC_MON_FILTER, "Edit", 182, 212, 24, 12, "", ES_AUTOHSCROLL | TAB},
    {IDCANCEL, "Button", 583, 211, 50, 14, "Close", BS_PUSHBUTTON | TAB},
    {IDC_MON_STATUS, "Static", 7, 232, 626, 9, "", SS_LEFT},
};

const Ctl kChange[] = {
    {IDC_STATIC, "Static", 10, 12, 62, 8, "&Old Address", SS_LEFT},
    {IDC_CHANGE_OLD_ADDRESS, "Edit", 74, 10, 40, 12, "", TAB},
    {IDC_STATIC, "Static", 124, 12, 56, 8, "&New Address", SS_LEFT},
    {IDC_CHANGE_NEW_ADDRESS, "Edit", 182, 10, 40, 12, "", TAB},
    {IDC_STATIC, "Static", 10, 32, 62, 8, "O&ld Baud Rate", SS_LEFT},
    {IDC_CHANGE_OLD_BAUD, "ComboBox", 74, 30, 40, 50, "", DROP},
    {IDC_STATIC, "Static", 124, 32, 56, 8, "New &Baud Rate", SS_LEFT},
    {IDC_CHANGE_NEW_BAUD, "ComboBox", 182, 30, 40, 50, "", DROP},
    {IDC_CHANGE_PROGRESS, "Static", 10, 46, 212, 9, "", SS_LEFT},
    {IDOK, "Button", 61, 58, 50, 14, "OK", BS_DEFPUSHBUTTON | TAB},
    {IDCANCEL, "Button", 121, 58, 50, 14, "Cancel", BS_PUSHBUTTON | TAB},
};

const Ctl kOwnMac[] = {
    {IDC_STATIC, "Static", 10, 8, 240, 8,
     "The MAC ID this program uses on the bus. It is checked free", SS_LEFT},
    {IDC_STATIC, "Static", 10, 17, 240, 8,
     "before each operation and given up as soon as another node", SS_LEFT},
    {IDC_STATIC, "Static", 10, 26, 240, 8, "claims it.", SS_LEFT},
    {IDC_OWN_MAC_AUTO, "Button", 10, 42, 240, 10,
     "&Automatic (the first free of 0, 1, 2, 63, 62, 61, 60)", BS_AUTORADIOBUTTON | WS_GROUP | TAB},
    {IDC_OWN_MAC_FIXED, "Button", 10, 58, 70, 10, "&Fixed MAC ID:", BS_AUTORADIOBUTTON},
    {IDC_OWN_MAC_VALUE, "Edit", 82, 57, 24, 12, "", ES_NUMBER | WS_GROUP | TAB},
    {IDC_STATIC, "Static", 112, 59, 138, 8, "(configuration tools: 62)", SS_LEFT},
    {IDOK, "Button", 74, 80, 50, 14, "OK", BS_DEFPUSHBUTTON | WS_GROUP | TAB},
    {IDCANCEL, "Button", 134, 80, 50, 14, "Cancel", BS_PUSHBUTTON | TAB},
};

// The attribute dialogs: the head, then the data type group, then the foot.
const Ctl kAttrHead[] = {
    {IDC_STATIC, "Button", 5, 0, 195, 66, "", BS_GROUPBOX},
    {IDC_STATIC, "Static", 12, 11, 67, 8, "C&lass ID", SS_LEFT},
    {IDC_ATTR_CLASS, "Edit", 81, 9, 50, 12, "", TAB},
    {IDC_STATIC, "Static", 12, 31, 67, 8, "&Instance ID", SS_LEFT},
    {IDC_ATTR_INSTANCE, "Edit", 81, 29, 50, 12, "", TAB},
    {IDC_STATIC, "Static", 12, 51, 67, 8, "&Attribute ID", SS_LEFT},
    {IDC_ATTR_ATTRIBUTE, "Edit", 81, 49, 50, 12, "", TAB},
    {IDC_ATTR_IDS_HEX, "Button", 154, 30, 40, 12, "hex", BS_AUTOCHECKBOX | TAB},
    {IDC_STATIC, "Button", 5, 67, 195, 167, "Data &Type", BS_GROUPBOX},
    {IDC_ATTR_VALUE_HEX, "Button", 15, 78, 46, 12, "hex", BS_AUTOCHECKBOX | TAB},
};

const Ctl kServiceBox = {IDC_ATTR_SERVICE,     "Button", 15, 97, 40, 12, "Service",
                         BS_AUTOCHECKBOX | TAB};

// Radio buttons stand in code order, one every 11 units from y 76. The raw
// hex bytes button reaches to the group's edge (116 units, not 111): its
// caption is longer than 111 units in the font Wine puts in place of
// MS Sans Serif.
constexpr DWORD RADIO = BS_AUTORADIOBUTTON;
const Ctl kAttrTypes[] = {
    {IDC_ATTR_TYPE_RAW, "Button", 81, 76, 116, 11, "raw hex bytes (e.g. a1 bc 73 ...)",
     RADIO | WS_GROUP | TAB},
    {IDC_ATTR_TYPE_BOOL, "Button", 81, 87, 108, 11, "BOOL (0...1)", RADIO},
    {IDC_ATTR_TYPE_SINT, "Button", 81, 98, 108, 11, "SINT (-128...127)", RADIO},
    {IDC_ATTR_TYPE_INT, "Button", 81, 109, 108, 11, "INT (-32768...32767)", RADIO},
    {IDC_ATTR_TYPE_DINT, "Button", 81, 120, 108, 11, "DINT (-2^31...2^31-1)", RADIO},
    {IDC_ATTR_TYPE_LINT, "Button", 81, 131, 108, 11, "LINT (-2^63...2^63-1)", RADIO},
    {IDC_ATTR_TYPE_USINT, "Button", 81, 142, 108, 11, "USINT (0...255)", RADIO},
    {IDC_ATTR_TYPE_UINT, "Button", 81, 153, 108, 11, "UINT (0...65535)", RADIO},
    {IDC_ATTR_TYPE_UDINT, "Button", 81, 164, 108, 11, "UDINT (0...2^32-1)", RADIO},
    {IDC_ATTR_TYPE_ULINT, "Button", 81, 175, 108, 11, "ULINT (0...2^64-1)", RADIO},
    {IDC_ATTR_TYPE_REAL, "Button", 81, 186, 108, 11, "REAL", RADIO},
    {IDC_ATTR_TYPE_LREAL, "Button", 81, 197, 108, 11, "LREAL", RADIO},
    {IDC_ATTR_TYPE_STRING, "Button", 81, 208, 108, 11, "STRING", RADIO},
    {IDC_ATTR_TYPE_SHORT_STRING, "Button", 81, 219, 108, 11, "SHORT_STRING (e.g. 3abc)", RADIO},
};

const Ctl kReadFoot[] = {
    {IDC_STATIC, "Static", 5, 240, 67, 8, "Result Value", SS_LEFT | WS_GROUP},
    {IDC_ATTR_RESULT, "Edit", 83, 240, 117, 12, "", RO},
    {IDCANCEL, "Button", 15, 257, 50, 14, "&Close", BS_PUSHBUTTON | TAB},
    {IDOK, "Button", 133, 257, 50, 14, "&Read", BS_DEFPUSHBUTTON | TAB},
};

const Ctl kWriteFoot[] = {
    {IDC_STATIC, "Static", 5, 240, 67, 8, "Send Value", SS_LEFT | WS_GROUP},
    {IDC_ATTR_SEND_VALUE, "Edit", 83, 240, 117, 12, "", TAB},
    {IDCANCEL, "Button", 15, 257, 50, 14, "&Close", BS_PUSHBUTTON | TAB},
    {IDOK, "Button", 133, 257, 50, 14, "&Write", BS_DEFPUSHBUTTON | TAB},
};

template <size_t N>
void Append(std::vector<Ctl>& to, const Ctl (&table)[N]) {
  to.insert(to.end(), table, table + N);
}

template <size_t N>
std::vector<Ctl> Controls(const Ctl (&table)[N]) {
  return std::vector<Ctl>(table, table + N);
}

std::vector<Ctl> AttrControls(bool write) {
  std::vector<Ctl> controls = Controls(kAttrHead);
  if (write) controls.push_back(kServiceBox);
  Append(controls, kAttrTypes);
  if (write) {
    Append(controls, kWriteFoot);
  } else {
    Append(controls, kReadFoot);
  }
  return controls;
}

struct DialogSpec {
  int id;
  const char* caption;  // English
  int w, h;
  std::vector<Ctl> controls;
};

const DialogSpec kDialogs[] = {
    {IDD_MAIN, "Quillon", 406, 258, Controls(kMain)},
    {IDD_ABOUT, "About", 194, 130, Controls(kAbout)},
    {IDD_SEARCH, "Search Slaves", 540, 222, Controls(kSearch)},
    {IDD_CHANGE, "Change Address and Baud Rate of Slave", 232, 80, Controls(kChange)},
    {IDD_MONITOR, "Bus Monitor", 640, 248, Controls(kMonitor)},
    {IDD_OWN_MAC, "Own MAC ID", 260, 102, Controls(kOwnMac)},
    {IDD_READ_ATTR, "Read Attribute", 208, 277, AttrControls(false)},
    {IDD_WRITE_ATTR, "Write Attribute", 208, 278, AttrControls(true)},
};

INT_PTR CALLBACK TrivialDlgProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

// The main dialog names its window class; the program registers it as a
// dialog class, and so does the test.
void RegisterMainClass() {
  WNDCLASSA wc = {};
  if (GetClassInfoA(GetModuleHandleA(nullptr), MAIN_WINDOW_CLASS, &wc)) return;
  // Global, since the dialog is created with the library's instance handle.
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = DefDlgProcA;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = MAIN_WINDOW_CLASS;
  ASSERT_NE(RegisterClassA(&wc), 0);
}

std::string Text(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Where the dialog manager puts a control given in dialog units: origin and
// size are converted separately, so the far edge can differ by a pixel from
// converting the far corner.
RECT DialogUnits(HWND dialog, int x, int y, int w, int h) {
  RECT units = {x, y, w, h};
  MapDialogRect(dialog, &units);
  return {units.left, units.top, units.left + units.right, units.top + units.bottom};
}

RECT ClientRectOf(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void ExpectRect(const RECT& actual, const RECT& expected) {
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  EXPECT_EQ(actual.right, expected.right);
  EXPECT_EQ(actual.bottom, expected.bottom);
}

bool HasMnemonic(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '&') {
      if (text[i + 1] != '&') return true;
      ++i;
    }
  }
  return false;
}

void CheckControl(HWND dialog, HWND control, const Ctl& c, bool english) {
  EXPECT_EQ(GetDlgCtrlID(control), c.id);
  EXPECT_STRCASEEQ(ClassOf(control).c_str(), c.cls);
  const std::string text = Text(control);
  if (english) {
    EXPECT_EQ(text, c.text);
  } else {
    EXPECT_EQ(text.empty(), *c.text == '\0') << text;
    EXPECT_EQ(HasMnemonic(text), HasMnemonic(c.text)) << text;
  }

  const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
  const bool typed = lstrcmpiA(c.cls, "Button") == 0 || lstrcmpiA(c.cls, "Static") == 0;
  const DWORD typeMask = lstrcmpiA(c.cls, "Button") == 0 ? 0x0F : 0x1F;
  if (typed) {
    EXPECT_EQ(style & typeMask, c.style & typeMask) << std::hex << style;
  }
  // The dialog manager turns a border into a sunken edge, and a list box
  // keeps its scroll bar styles only while the bar is shown (checked below).
  DWORD flags = typed ? (c.style & ~typeMask) : c.style;
  if (flags & WS_BORDER) {
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE));
    EXPECT_TRUE((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE)) << "border";
    flags &= ~WS_BORDER;
  }
  const bool isList = lstrcmpiA(c.cls, "ListBox") == 0;
  if (isList) flags &= ~(WS_HSCROLL | WS_VSCROLL);
  EXPECT_EQ(style & flags, flags) << std::hex << style;
  EXPECT_EQ(style & WS_TABSTOP, c.style & WS_TABSTOP) << "tab stop";

  const RECT expected = DialogUnits(dialog, c.x, c.y, c.w, c.h);
  const RECT actual = ClientRectOf(dialog, control);
  if (lstrcmpiA(c.cls, "ComboBox") == 0) {
    // A drop-down list is as high as its font; the template height is the
    // height of the opened list.
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    // The template height is the height of the opened list. How a combo box
    // reports that differs between Windows and Wine, so compare it with a
    // combo box made here at the expected height in pixels.
    HWND reference = CreateWindowA("ComboBox", "", WS_CHILD | style, expected.left, expected.top,
                                   expected.right - expected.left, expected.bottom - expected.top,
                                   dialog, nullptr, nullptr, nullptr);
    SendMessageA(reference, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
    RECT dropped;
    RECT wanted;
    SendMessageA(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    SendMessageA(reference, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&wanted));
    EXPECT_EQ(dropped.bottom - dropped.top, wanted.bottom - wanted.top) << "opened list";
    DestroyWindow(reference);
  } else if (isList && !(style & LBS_NOINTEGRALHEIGHT)) {
    // The list shows whole lines only and trims its height to them.
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    const LRESULT line = SendMessageA(control, LB_GETITEMHEIGHT, 0, 0);
    EXPECT_LE(actual.bottom, expected.bottom);
    EXPECT_GT(actual.bottom, expected.bottom - line);
  } else {
    ExpectRect(actual, expected);
  }

  if (isList) {
    // Filled beyond its size, the list shows the scroll bar it was given.
    for (int i = 0; i < 300; ++i) SendMessageA(control, LB_ADDSTRING, 0, (LPARAM) "(63)");
    const DWORD filled = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    EXPECT_EQ(filled & (WS_HSCROLL | WS_VSCROLL), c.style & (WS_HSCROLL | WS_VSCROLL))
        << "scroll bars";
  }
}

// Whether the control's caption fits on one line in the dialog's font,
// beside the box of a check box or radio button. Gives the missing pixels.
int MissingPixels(HWND control) {
  const std::string text = Text(control);
  if (text.empty()) return 0;
  const std::string cls = ClassOf(control);
  const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT extent = {0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE);
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(control, dc);

  RECT client;
  GetClientRect(control, &client);
  int room = client.right;
  if (lstrcmpiA(cls.c_str(), "Button") == 0) {
    switch (style & 0x0F) {
      case BS_GROUPBOX:
        room -= 2 * metrics.tmAveCharWidth;  // the frame on both sides of the title
        break;
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
      case BS_AUTORADIOBUTTON:
      case BS_RADIOBUTTON:
        room -= GetSystemMetrics(SM_CXMENUCHECK) + metrics.tmAveCharWidth / 2;
        break;
      default:
        room -= 4;  // the button's edges
        break;
    }
  }
  return extent.right > room ? extent.right - room : 0;
}

void CheckDialog(HMODULE library, const DialogSpec& d, bool english) {
  SCOPED_TRACE("dialog " + std::to_string(d.id));
  HWND dialog = CreateDialogParamA(library, MAKEINTRESOURCEA(d.id), nullptr, TrivialDlgProc, 0);
  ASSERT_NE(dialog, nullptr) << GetLastError();

  RECT client;
  GetClientRect(dialog, &client);
  ExpectRect(client, DialogUnits(dialog, 0, 0, d.w, d.h));
  if (english) {
    EXPECT_EQ(Text(dialog), d.caption);
  } else {
    EXPECT_FALSE(Text(dialog).empty());
  }

  // MS Sans Serif 8 for every dialog.
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  LOGFONTA logFont = {};
  ASSERT_NE(GetObjectA(font, sizeof logFont, &logFont), 0);
  EXPECT_STREQ(logFont.lfFaceName, "MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(logFont.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);

  const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), static_cast<DWORD>(WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u) << "fixed size";
  // The main window and the bus monitor, which stays open beside it.
  EXPECT_EQ((style & WS_MINIMIZEBOX) != 0, d.id == IDD_MAIN || d.id == IDD_MONITOR);
  // The modeless attribute dialogs are created visible; the program shows
  // the main window itself and runs the others modally.
  EXPECT_EQ(IsWindowVisible(dialog) != 0, d.id == IDD_READ_ATTR || d.id == IDD_WRITE_ATTR);
  if (d.id == IDD_MAIN) {
    EXPECT_EQ(ClassOf(dialog), MAIN_WINDOW_CLASS);
    EXPECT_NE(GetMenu(dialog), nullptr);
  }

  size_t index = 0;
  for (HWND control = GetWindow(dialog, GW_CHILD); control;
       control = GetWindow(control, GW_HWNDNEXT), ++index) {
    SCOPED_TRACE("control " + std::to_string(index) + " id " +
                 std::to_string(GetDlgCtrlID(control)) + " \"" + Text(control) + "\"");
    ASSERT_LT(index, d.controls.size()) << "more controls than expected";
    CheckControl(dialog, control, d.controls[index], english);
    EXPECT_EQ(MissingPixels(control), 0) << "caption cut";
  }
  EXPECT_EQ(index, d.controls.size());
  DestroyWindow(dialog);
}

class LanguageLibraries : public ::testing::Test {
 protected:
  void SetUp() override {
    english_ = LoadLibraryA("tarnres.dll");
    german_ = LoadLibraryA("tarnresd.dll");
    ASSERT_NE(english_, nullptr) << "tarnres.dll beside the test";
    ASSERT_NE(german_, nullptr) << "tarnresd.dll beside the test";
  }
  void TearDown() override {
    if (english_) FreeLibrary(english_);
    if (german_) FreeLibrary(german_);
  }
  HMODULE english_ = nullptr;
  HMODULE german_ = nullptr;
};

TEST_F(LanguageLibraries, EveryDialogMatchesItsLayout) {
  RegisterMainClass();
  for (const DialogSpec& d : kDialogs) {
    {
      SCOPED_TRACE("tarnres.dll");
      CheckDialog(english_, d, true);
    }
    {
      SCOPED_TRACE("tarnresd.dll");
      CheckDialog(german_, d, false);
    }
  }
}

// The German texts that the string table test cannot see: a few captions
// whose umlauts must survive the resource compiler's code page.
// The Alt letter of a caption: the character after its first single "&",
// in lower case; 0 when it has none.
wchar_t MnemonicOf(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] != L'&') return static_cast<wchar_t>(towlower(text[i + 1]));
    ++i;
  }
  return 0;
}

std::string Utf8(const std::wstring& text) {
  char out[512] = "";
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
  return out;
}

// The captions among `texts` whose Alt letter an earlier one has already,
// each as "earlier / later"; empty when every letter leads to one place.
std::string Clashes(const std::vector<std::wstring>& texts) {
  std::string clashes;
  for (size_t i = 0; i < texts.size(); ++i) {
    const wchar_t letter = MnemonicOf(texts[i]);
    for (size_t j = 0; letter && j < i; ++j) {
      if (MnemonicOf(texts[j]) != letter) continue;
      clashes += Utf8(texts[j]) + " / " + Utf8(texts[i]) + "; ";
      break;
    }
  }
  return clashes;
}

TEST(Mnemonics, ClashesNameTheCaptionsThatShareALetter) {
  EXPECT_EQ(Clashes({L"&Adresse", L"A&usgangsdaten", L"&Datei"}), "");
  EXPECT_EQ(Clashes({L"&Adresse", L"&Ausgangsdaten"}), "&Adresse / &Ausgangsdaten; ");
  EXPECT_EQ(Clashes({L"&Baud Rate", L"Single &bit Mode", L"R&&B", L"&7", L"&7"}),
            "&Baud Rate / Single &bit Mode; &7 / &7; ");
  EXPECT_EQ(Clashes({L"\u00DC&ber", L"&Beenden"}), "\xC3\x9C&ber / &Beenden; ");
}

// The captions of a dialog's controls whose Alt letter works: a static
// shown without prefix processing has none. The bit push buttons repeat the
// bit check boxes' letters but are never shown with them.
std::vector<std::wstring> ControlCaptions(HMODULE library, int id) {
  std::vector<std::wstring> captions;
  HWND dialog = CreateDialogParamW(library, MAKEINTRESOURCEW(id), nullptr, TrivialDlgProc, 0);
  EXPECT_NE(dialog, nullptr) << id;
  if (!dialog) return captions;
  for (HWND control = GetWindow(dialog, GW_CHILD); control;
       control = GetWindow(control, GW_HWNDNEXT)) {
    const int controlId = GetDlgCtrlID(control);
    if (id == IDD_MAIN && controlId >= IDC_MAIN_BIT0_BUTTON && controlId <= IDC_MAIN_BIT7_BUTTON) {
      continue;
    }
    if (ClassOf(control) == "Static" && (GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX)) {
      continue;
    }
    wchar_t text[256] = L"";
    GetWindowTextW(control, text, 256);
    captions.push_back(text);
  }
  DestroyWindow(dialog);
  return captions;
}

std::wstring MenuCaption(HMENU menu, int position) {
  wchar_t text[256] = L"";
  GetMenuStringW(menu, static_cast<UINT>(position), text, 256, MF_BYPOSITION);
  return text;
}

// Alt+letter must lead to one place in every window: within each dialog;
// in the main window, whose menu bar takes Alt+letter too, across its
// controls and the menu bar's titles; and within each popup menu.
TEST_F(LanguageLibraries, OneAltLetterPerWindow) {
  RegisterMainClass();
  for (HMODULE library : {english_, german_}) {
    SCOPED_TRACE(library == english_ ? "tarnres.dll" : "tarnresd.dll");
    HMENU menu = LoadMenuW(library, MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    for (const DialogSpec& d : kDialogs) {
      std::vector<std::wstring> captions = ControlCaptions(library, d.id);
      if (d.id == IDD_MAIN) {
        for (int p = 0; p < GetMenuItemCount(menu); ++p) captions.push_back(MenuCaption(menu, p));
      }
      EXPECT_EQ(Clashes(captions), "") << "dialog " << d.id;
    }
    for (int p = 0; p < GetMenuItemCount(menu); ++p) {
      HMENU popup = GetSubMenu(menu, p);
      ASSERT_NE(popup, nullptr);
      std::vector<std::wstring> items;
      for (int i = 0; i < GetMenuItemCount(popup); ++i) items.push_back(MenuCaption(popup, i));
      EXPECT_EQ(Clashes(items), "") << Utf8(MenuCaption(menu, p));
    }
    DestroyMenu(menu);
  }
}

TEST_F(LanguageLibraries, GermanDialogsCarryTheirUmlauts) {
  RegisterMainClass();
  HWND about = CreateDialogParamW(german_, MAKEINTRESOURCEW(IDD_ABOUT), nullptr, TrivialDlgProc, 0);
  ASSERT_NE(about, nullptr);
  wchar_t text[100];
  GetWindowTextW(about, text, 100);
  EXPECT_STREQ(text, L"\u00DCber");
  DestroyWindow(about);

  HWND change =
      CreateDialogParamW(german_, MAKEINTRESOURCEW(IDD_CHANGE), nullptr, TrivialDlgProc, 0);
  ASSERT_NE(change, nullptr);
  GetWindowTextW(change, text, 100);
  EXPECT_STREQ(text, L"Adresse und Baudrate des Slaves \u00E4ndern");
  GetDlgItemTextW(change, IDCANCEL, text, 100);
  EXPECT_STREQ(text, L"Abbrechen");
  DestroyWindow(change);
}

struct MenuItem {
  const char* text;  // English
  UINT id;           // 0 for a separator
};

struct MenuPopup {
  const char* text;
  std::vector<MenuItem> items;
};

const MenuPopup kMenu[] = {
    {"&File", {{"E&xit", IDM_EXIT}}},
    {"&Address",
     {{"&Search Slaves", IDM_SEARCH_SLAVES},
      {"Search at &All Baud Rates", IDM_SEARCH_ALL_RATES},
      {"&Change Address and Baud Rate of Slave", IDM_CHANGE_ADDRESS}}},
    {"&Communication",
     {{"&Start", IDM_START},
      {"Sto&p", IDM_STOP},
      {"", 0},
      {"&Read Attribute ...", IDM_READ_ATTR},
      {"&Write Attribute ...", IDM_WRITE_ATTR},
      {"", 0},
      {"Slave Watch&dog", IDM_SLAVE_WATCHDOG},
      {"&Own MAC ID ...", IDM_OWN_MAC},
      {"", 0},
      {"Bus &Monitor ...", IDM_BUS_MONITOR},
      {"&Capture to File ...", IDM_CAPTURE}}},
    {"&Help", {{"&Contents", IDM_HELP_CONTENTS}, {"&About ...", IDM_ABOUT}}},
};

struct ItemInfo {
  UINT type;
  UINT id;
  HMENU popup;
  std::string text;
};

ItemInfo ItemAt(HMENU menu, int position) {
  char text[256] = "";
  MENUITEMINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = sizeof text;
  EXPECT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info));
  return {info.fType, info.wID, info.hSubMenu, text};
}

void CheckMenu(HMODULE library, bool english) {
  HMENU menu = LoadMenuA(library, MAKEINTRESOURCEA(IDR_MAIN_MENU));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 4);
  for (int p = 0; p < 4; ++p) {
    const MenuPopup& expected = kMenu[p];
    SCOPED_TRACE(expected.text);
    ItemInfo popup = ItemAt(menu, p);
    ASSERT_NE(popup.popup, nullptr);
    if (english) {
      EXPECT_EQ(popup.text, expected.text);
    }
    EXPECT_TRUE(HasMnemonic(popup.text)) << popup.text;
    // Help sits at the right end of the menu bar.
    EXPECT_EQ((popup.type & MFT_RIGHTJUSTIFY) != 0, p == 3);
    ASSERT_EQ(GetMenuItemCount(popup.popup), static_cast<int>(expected.items.size()));
    for (size_t i = 0; i < expected.items.size(); ++i) {
      ItemInfo item = ItemAt(popup.popup, static_cast<int>(i));
      EXPECT_EQ(item.popup, nullptr);
      if (expected.items[i].id == 0) {
        EXPECT_NE(item.type & MFT_SEPARATOR, 0u);
        continue;
      }
      EXPECT_EQ(item.id, expected.items[i].id);
      if (english) {
        EXPECT_EQ(item.text, expected.items[i].text);
      }
      EXPECT_TRUE(HasMnemonic(item.text)) << item.text;
      // The program greys and enables items; none starts greyed.
      EXPECT_EQ(GetMenuState(popup.popup, item.id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED), 0u);
    }
  }
  DestroyMenu(menu);
}

TEST_F(LanguageLibraries, MenuHasEveryCommandInOrder) {
  {
    SCOPED_TRACE("tarnres.dll");
    CheckMenu(english_, true);
  }
  {
    SCOPED_TRACE("tarnresd.dll");
    CheckMenu(german_, false);
  }
}

TEST_F(LanguageLibraries, AcceleratorsAreEnterAndF1) {
  struct Case {
    int table;
    WORD key;
    WORD command;
  };
  const Case cases[] = {{IDR_ACCEL_EDIT, VK_RETURN, IDM_ACCEL_ENTER},
                        {IDR_ACCEL_MAIN, VK_F1, IDM_ACCEL_HELP}};
  for (HMODULE library : {english_, german_}) {
    for (const Case& c : cases) {
      HACCEL table = LoadAcceleratorsA(library, MAKEINTRESOURCEA(c.table));
      ASSERT_NE(table, nullptr) << c.table;
      ACCEL entries[4];
      ASSERT_EQ(CopyAcceleratorTableA(table, entries, 4), 1) << c.table;
      EXPECT_EQ(entries[0].key, c.key);
      EXPECT_EQ(entries[0].cmd, c.command);
      EXPECT_EQ(entries[0].fVirt & ~FNOINVERT, FVIRTKEY) << "virtual key, no modifier";
      EXPECT_NE(entries[0].fVirt & FNOINVERT, 0) << "no menu flash";
      DestroyAcceleratorTable(table);
    }
  }
}

// The sizes in an icon group, read from its directory.
std::set<int> IconSizes(HMODULE module) {
  std::set<int> sizes;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDI_APP), MAKEINTRESOURCEA(14));
  if (!found) return sizes;
  const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  const WORD count = *reinterpret_cast<const WORD*>(group + 4);
  for (WORD i = 0; i < count; ++i) {
    const BYTE* entry = group + 6 + 14 * i;  // GRPICONDIRENTRY
    sizes.insert(entry[0] == 0 ? 256 : entry[0]);
    EXPECT_EQ(entry[0], entry[1]) << "square";
  }
  return sizes;
}

TEST_F(LanguageLibraries, IconHasBothSizesInEveryModule) {
  const std::set<int> expected = {16, 32};
  EXPECT_EQ(IconSizes(english_), expected);
  EXPECT_EQ(IconSizes(german_), expected);
  EXPECT_EQ(IconSizes(GetModuleHandleA(nullptr)), expected) << "the program's own";
  for (int size : expected) {
    HICON icon = static_cast<HICON>(
        LoadImageA(english_, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  auto* names = reinterpret_cast<std::set<std::string>*>(param);
  names->insert(IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                     : std::string(name));
  return TRUE;
}

std::set<std::string> Names(HMODULE module, LPCSTR type) {
  std::set<std::string> names;
  EnumResourceNamesA(module, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

std::set<UINT> StringIds(HMODULE module) {
  std::set<UINT> ids;
  for (const std::string& block : Names(module, MAKEINTRESOURCEA(6))) {
    const UINT first = (static_cast<UINT>(std::stoul(block.substr(1))) - 1) * 16;
    for (UINT id = first; id < first + 16; ++id) {
      wchar_t* text = nullptr;
      if (LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0) > 0) ids.insert(id);
    }
  }
  return ids;
}

TEST_F(LanguageLibraries, BothCarryTheSameResourceIds) {
  const std::pair<LPCSTR, std::set<std::string>> kinds[] = {
      {MAKEINTRESOURCEA(5),
       {"#101", "#108", "#109", "#112", "#114", "#115", "#1049", "#1050"}},  // dialogs
      {MAKEINTRESOURCEA(4), {"#104"}},                                       // menu
      {MAKEINTRESOURCEA(9), {"#105", "#106"}},                               // accelerators
      {MAKEINTRESOURCEA(14), {"#103"}},                                      // icon group
  };
  for (const auto& kind : kinds) {
    EXPECT_EQ(Names(english_, kind.first), kind.second);
    EXPECT_EQ(Names(german_, kind.first), kind.second);
  }
  const std::set<UINT> strings = StringIds(english_);
  EXPECT_EQ(StringIds(german_), strings);
  for (UINT id : strings) {
    const bool errorCodeName = id >= IDS_GEC_NAME_BASE && id <= IDS_GEC_NAME_BASE + 0xFF;
    const bool monitorText = id >= IDS_MON_FIRST && id <= IDS_MON_LAST;
    const bool moreText = id >= IDS_MORE_FIRST && id <= IDS_MORE_LAST;
    EXPECT_TRUE(errorCodeName || monitorText || moreText || (id >= IDS_FIRST && id <= IDS_LAST))
        << id;
    EXPECT_TRUE(id < IDS_BIT0 || id > IDS_BIT7) << "bit captions belong to the program";
  }
  EXPECT_EQ(strings.count(IDS_ADDRESS_IN_USE), 1u);
}

std::wstring LoadText(HMODULE library, UINT id) {
  wchar_t text[200] = L"";
  LoadStringW(library, id, text, 200);
  return text;
}

// Every general error code has a name in both languages, made from the one
// table of codes; a few are checked word for word.
TEST_F(LanguageLibraries, GeneralErrorCodesHaveNamesInBothLanguages) {
  const struct {
    UINT code;
    const wchar_t* english;
    const wchar_t* german;
  } cases[] = {
      {0x08, L"service not supported", L"Dienst nicht unterst\u00FCtzt"},
      {0x0C, L"object state conflict", L"Objektzustandskonflikt"},
      {0x0E, L"attribute not settable", L"Attribut nicht schreibbar"},
      {0x14, L"attribute not supported", L"Attribut nicht unterst\u00FCtzt"},
      {0x50, L"reserved", L"reserviert"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadText(english_, IDS_GEC_NAME_BASE + c.code), c.english) << c.code;
    EXPECT_EQ(LoadText(german_, IDS_GEC_NAME_BASE + c.code), c.german) << c.code;
  }
  for (UINT code = 0; code <= 0xFF; ++code) {
    for (HMODULE library : {english_, german_}) {
      const std::wstring name = LoadText(library, IDS_GEC_NAME_BASE + code);
      EXPECT_FALSE(name.empty()) << code;
      EXPECT_EQ(name.find(L'\n'), std::wstring::npos) << code << " stands inside a sentence";
    }
  }
}

// A language library is data only: no entry point and nothing imported, so
// loading it runs no code and needs no runtime beside it.
TEST_F(LanguageLibraries, AreResourceOnly) {
  for (HMODULE library : {english_, german_}) {
    const BYTE* base = reinterpret_cast<const BYTE*>(library);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.AddressOfEntryPoint, 0u);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int importedLibraries = 0;
    if (imports.Size != 0) {
      const auto* entry =
          reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
      for (; entry->Name != 0; ++entry) {
        ++importedLibraries;
        ADD_FAILURE() << "imports " << reinterpret_cast<const char*>(base + entry->Name);
      }
    }
    EXPECT_EQ(importedLibraries, 0);
  }
}

}  // namespace
