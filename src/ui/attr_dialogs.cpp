#include "ui/attr_dialogs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "attributes/attributes.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "resource.h"
#include "ui/shell.h"

namespace ui {

namespace {

using app::g_App;

// The text fields hold 2999 characters, the size of AttrValueText less its
// terminating zero; a longer text would be read cut anyway.
constexpr int FIELD_TEXT_SIZE = app::ATTR_VALUE_TEXT_SIZE;
constexpr int FIELD_TEXT_LIMIT = FIELD_TEXT_SIZE - 1;
constexpr int ID_TEXT_SIZE = 24;  // "FFFFFFFF hex", "-2147483648 dec"
// The refusal messages: the text as far as it is shown, the type's name
// from its radio button or the field's name, and what it allows.
constexpr int SHOWN_VALUE_SIZE = 64;
constexpr int TYPE_NAME_SIZE = 64;
constexpr int ALLOWED_TEXT_SIZE = 200;

// What each dialog keeps for itself: the radix its ID fields were last
// shown in (read in hex and shown "%X hex", or decimal and "%d dec"), and whether
// the current pass only re-shows the IDs in the other radix.
struct AttrDialog {
  int idsHex;
  bool idsReformatting;
  bool keepIdText[3];  // during that pass: class, instance, attribute hold no number
};

constexpr int ID_CONTROLS[3] = {IDC_ATTR_CLASS, IDC_ATTR_INSTANCE, IDC_ATTR_ATTRIBUTE};

AttrDialog readDialog;
AttrDialog writeDialog;

// Reads an ID field: true, with the number, when the field holds exactly one
// number in the dialog's radix ("1A" or "26"), or one that says its own
// ("1A hex", "26 dec", as the fields show them); false for anything else,
// the empty field and a negative number included.
bool ScanId(HWND dialog, int controlId, const AttrDialog& state, uint32_t& value) {
  char text[FIELD_TEXT_SIZE];
  GetDlgItemTextA(dialog, controlId, text, sizeof text);
  uint8_t bytes[4];
  uint8_t count = 0;
  if (!attributes::ParseAttrValueStrict(attributes::ATTR_UDINT, state.idsHex, text, bytes,
                                        sizeof bytes, &count) ||
      count != sizeof bytes) {
    return false;
  }
  value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
          static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return true;
}

void ShowId(HWND dialog, int controlId, int value, const AttrDialog& state) {
  char text[ID_TEXT_SIZE];
  if (state.idsHex) {
    std::snprintf(text, sizeof text, "%X hex", static_cast<unsigned>(value));
  } else {
    std::snprintf(text, sizeof text, "%d dec", value);
  }
  SetDlgItemTextA(dialog, controlId, text);
}

// What an ID field may send. The attribute ID and a service code are one
// byte in every request; class and instance IDs are 16 bits at most, and
// above 8 bits only where the slave granted such a body format, which the
// request checks when it goes out.
struct IdField {
  int controlId;
  unsigned nameId;  // the field's name in a refusal
  uint32_t most;
};
constexpr uint32_t BYTE_ID_MOST = 0xFF;
constexpr uint32_t WIDE_ID_MOST = 0xFFFF;
constexpr IdField CLASS_FIELD = {IDC_ATTR_CLASS, IDS_ATTR_FIELD_CLASS, WIDE_ID_MOST};
constexpr IdField INSTANCE_FIELD = {IDC_ATTR_INSTANCE, IDS_ATTR_FIELD_INSTANCE, WIDE_ID_MOST};
constexpr IdField ATTRIBUTE_FIELD = {IDC_ATTR_ATTRIBUTE, IDS_ATTR_FIELD_ATTRIBUTE, BYTE_ID_MOST};
constexpr IdField SERVICE_FIELD = {IDC_ATTR_ATTRIBUTE, IDS_ATTR_FIELD_SERVICE, BYTE_ID_MOST};

// What an ID field takes, as its refusal says it.
void IdAllowedText(const IdField& field, const AttrDialog& state, char* allowed, int size) {
  char byteRange[ID_TEXT_SIZE * 2];
  attributes::FormatAttrRange(attributes::ATTR_USINT, state.idsHex, byteRange, sizeof byteRange);
  if (field.most == BYTE_ID_MOST) {
    std::snprintf(allowed, static_cast<size_t>(size), "%s", byteRange);
    return;
  }
  char wideRange[ID_TEXT_SIZE * 2];
  attributes::FormatAttrRange(attributes::ATTR_UINT, state.idsHex, wideRange, sizeof wideRange);
  char byteEnd[ID_TEXT_SIZE];
  std::snprintf(byteEnd, sizeof byteEnd, state.idsHex ? "FF hex" : "255");
  if (persist::FormatResString(IDS_ATTR_ID_ALLOWED_WIDE, wideRange, byteEnd, nullptr, allowed,
                               static_cast<size_t>(size)) == 0) {
    std::snprintf(allowed, static_cast<size_t>(size), "%s", wideRange);
  }
}

// Says which ID field holds what cannot be sent and what it takes, and
// leaves its text selected for correction.
void RefuseId(HWND dialog, const IdField& field, const AttrDialog& state) {
  char text[FIELD_TEXT_SIZE];
  GetDlgItemTextA(dialog, field.controlId, text, sizeof text);
  char shown[SHOWN_VALUE_SIZE];
  const int most = SHOWN_VALUE_SIZE - 4;
  std::snprintf(shown, sizeof shown, "%.*s%s", most, text,
                static_cast<int>(std::strlen(text)) > most ? "..." : "");
  char name[TYPE_NAME_SIZE];
  if (persist::LoadResString(field.nameId, name, sizeof name) == 0) name[0] = '\0';
  char allowed[ALLOWED_TEXT_SIZE];
  IdAllowedText(field, state, allowed, sizeof allowed);
  persist::ShowMsgFmt(dialog, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_ATTR_ID_REFUSED,
                      name, shown, allowed);
  // The dialog may have been closed while the box was up.
  if (!IsWindow(dialog)) return;
  HWND control = GetDlgItem(dialog, field.controlId);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

// Reads the three ID fields for a request: true with the numbers when each
// fits its field, each field then showing its number in the display format
// ("26" becomes "26 dec"). Otherwise the first field that does not fit is
// refused with a box, and nothing changes.
bool TakeIds(HWND dialog, const AttrDialog& state, const IdField (&fields)[3], int (&ids)[3]) {
  uint32_t values[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (!ScanId(dialog, fields[i].controlId, state, values[i]) || values[i] > fields[i].most) {
      RefuseId(dialog, fields[i], state);
      return false;
    }
  }
  for (int i = 0; i < 3; ++i) {
    ids[i] = static_cast<int>(values[i]);
    ShowId(dialog, fields[i].controlId, ids[i], state);
  }
  return true;
}

// The first half of a switch of the ID radix: each ID that reads in the old
// radix is kept, to be shown in the new one; a field that holds no number
// keeps its text, to be corrected.
void KeepIdsForReshow(HWND dialog, AttrDialog& state) {
  int* stored[3] = {&g_App.AttrClassId, &g_App.AttrInstanceId, &g_App.AttrAttributeId};
  for (int i = 0; i < 3; ++i) {
    uint32_t value = 0;
    state.keepIdText[i] = !ScanId(dialog, ID_CONTROLS[i], state, value);
    if (!state.keepIdText[i]) *stored[i] = static_cast<int>(value);
  }
}

void Tick(HWND dialog, int controlId, int on) {
  CheckDlgButton(dialog, controlId, on ? BST_CHECKED : BST_UNCHECKED);
}

bool IsTicked(HWND dialog, int controlId) {
  return IsDlgButtonChecked(dialog, controlId) == BST_CHECKED;
}

// The value radix means something for the integer types only.
void EnableValueRadix(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDC_ATTR_VALUE_HEX),
               attributes::AttrTypeHasRadix(g_App.AttrType) ? TRUE : FALSE);
}

// Exactly the radio button of AttrType is ticked. Button by button: the
// "hex" boxes sit among the radio ids, so a range call would untick them.
void ShowAttrType(HWND dialog) {
  for (int type = 0; type < attributes::ATTR_TYPE_COUNT; ++type) {
    Tick(dialog, attributes::AttrTypeRadioId(type), type == g_App.AttrType);
  }
  EnableValueRadix(dialog);
}

void LimitFieldText(HWND dialog, int controlId) {
  SendDlgItemMessageA(dialog, controlId, EM_LIMITTEXT, FIELD_TEXT_LIMIT, 0);
}

// The part of the opening both dialogs share; also the second half of a
// switch of the ID radix, which only re-shows the IDs.
BOOL ShowRequest(HWND dialog, AttrDialog& state) {
  Tick(dialog, IDC_ATTR_VALUE_HEX, g_App.ValueInHex);
  Tick(dialog, IDC_ATTR_IDS_HEX, g_App.IdsInHex);
  state.idsHex = g_App.IdsInHex ? 1 : 0;
  const int ids[3] = {g_App.AttrClassId, g_App.AttrInstanceId, g_App.AttrAttributeId};
  for (int i = 0; i < 3; ++i) {
    if (state.idsReformatting && state.keepIdText[i]) continue;
    ShowId(dialog, ID_CONTROLS[i], ids[i], state);
  }
  ShowAttrType(dialog);
  const bool opening = !state.idsReformatting;
  state.idsReformatting = false;
  if (!opening) return TRUE;

  LimitFieldText(dialog, IDC_ATTR_CLASS);
  LimitFieldText(dialog, IDC_ATTR_INSTANCE);
  LimitFieldText(dialog, IDC_ATTR_ATTRIBUTE);
  SetFocus(GetDlgItem(dialog, IDC_ATTR_CLASS));
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner) CenterOverOwner(owner, dialog, true);
  return FALSE;  // the focus is set
}

BOOL OnReadInitDialog(HWND dialog) {
  return ShowRequest(dialog, readDialog);
}

BOOL OnWriteInitDialog(HWND dialog) {
  // After a read this is the value read, ready to be written back. A switch
  // of the ID radix leaves the field alone: it holds the echo already, or a
  // refused text still to be corrected.
  if (!writeDialog.idsReformatting) {
    SetDlgItemTextA(dialog, IDC_ATTR_SEND_VALUE, g_App.AttrValueText);
    LimitFieldText(dialog, IDC_ATTR_SEND_VALUE);
  }
  ShowWindow(GetDlgItem(dialog, IDC_ATTR_SERVICE), g_App.ServiceShow ? SW_SHOW : SW_HIDE);
  Tick(dialog, IDC_ATTR_SERVICE, g_App.ServiceMode);
  // A service carries its data as raw bytes.
  if (g_App.ServiceMode) g_App.AttrType = attributes::ATTR_RAW_HEX;
  return ShowRequest(dialog, writeDialog);
}

void StoreIds(int classId, int instanceId, int attributeId) {
  g_App.AttrClassId = classId;
  g_App.AttrInstanceId = instanceId;
  g_App.AttrAttributeId = attributeId;
}

void OnReadButton(HWND dialog) {
  AttrDialog& state = readDialog;
  // Whatever comes of this click, a read queued before and not yet carried
  // out is withdrawn first: it would go to IDs no longer shown.
  g_App.ReadAttrPending = 0;
  if (state.idsReformatting) {
    KeepIdsForReshow(dialog, state);
    return;
  }
  int ids[3];
  if (!TakeIds(dialog, state, {CLASS_FIELD, INSTANCE_FIELD, ATTRIBUTE_FIELD}, ids)) return;
  StoreIds(ids[0], ids[1], ids[2]);
  g_App.ReadAttrPending = 1;
  SetDlgItemTextA(dialog, IDC_ATTR_RESULT, "");
}

// Send Value becomes the value bytes of the write when it is one value of
// the chosen type; the field then shows the echo, exactly the value that
// goes out. Otherwise nothing changes and false comes back; the text the
// user typed is left in `text`.
bool TakeSendValue(HWND dialog, char (&text)[FIELD_TEXT_SIZE]) {
  GetDlgItemTextA(dialog, IDC_ATTR_SEND_VALUE, text, sizeof text);
  uint8_t count = 0;
  if (!attributes::ParseAttrValueStrict(g_App.AttrType, g_App.ValueInHex, text, g_App.WriteValue,
                                        app::WRITE_VALUE_SIZE, &count)) {
    return false;
  }
  g_App.WriteValueLength = count;
  attributes::FormatAttrValue(g_App.AttrType, g_App.ValueInHex, g_App.WriteValue,
                              g_App.WriteValueLength, g_App.AttrValueText,
                              app::ATTR_VALUE_TEXT_SIZE);
  SetDlgItemTextA(dialog, IDC_ATTR_SEND_VALUE, g_App.AttrValueText);
  return true;
}

// The type's name as its radio button shows it, in the dialog's language:
// the caption up to its bracketed example, without mnemonic marks.
void TypeName(HWND dialog, char* name, int size) {
  char caption[TYPE_NAME_SIZE];
  GetDlgItemTextA(dialog, attributes::AttrTypeRadioId(g_App.AttrType), caption, sizeof caption);
  int n = 0;
  for (const char* p = caption; *p && n < size - 1; ++p) {
    if (p[0] == ' ' && p[1] == '(') break;
    if (*p != '&') name[n++] = *p;
  }
  name[n] = '\0';
}

// What the chosen type takes: a range of numbers, or for the raw bytes
// and the strings how many fit one write.
void AllowedText(char* allowed, int size) {
  if (attributes::FormatAttrRange(g_App.AttrType, g_App.ValueInHex, allowed, size) > 0) return;
  char most[8];
  std::snprintf(most, sizeof most, "%d", attributes::AttrTypeMaxLength(g_App.AttrType));
  char format[ALLOWED_TEXT_SIZE];
  const unsigned id = g_App.AttrType == attributes::ATTR_RAW_HEX ? IDS_VALUE_ALLOWED_BYTES
                                                                 : IDS_VALUE_ALLOWED_CHARS;
  if (persist::LoadResString(id, format, sizeof format) == 0) {
    std::snprintf(allowed, static_cast<size_t>(size), "%s", most);
    return;
  }
  const char* args[] = {most};
  persist::SubstituteArgs(format, args, 1, allowed, static_cast<size_t>(size));
}

// Says why nothing was sent, naming the text (a long one by its start),
// the type and what it takes, and leaves the text selected for correction.
void RefuseSendValue(HWND dialog, const char* text) {
  char shown[SHOWN_VALUE_SIZE];
  const int most = SHOWN_VALUE_SIZE - 4;
  std::snprintf(shown, sizeof shown, "%.*s%s", most, text,
                static_cast<int>(std::strlen(text)) > most ? "..." : "");
  char name[TYPE_NAME_SIZE];
  TypeName(dialog, name, sizeof name);
  char allowed[ALLOWED_TEXT_SIZE];
  AllowedText(allowed, sizeof allowed);
  persist::ShowMsgFmt(dialog, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_VALUE_REFUSED,
                      shown, name, allowed);
  // The dialog may have been closed while the box was up.
  if (!IsWindow(dialog)) return;
  HWND field = GetDlgItem(dialog, IDC_ATTR_SEND_VALUE);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
}

void OnWriteButton(HWND dialog) {
  AttrDialog& state = writeDialog;
  // As with Read, a write not yet carried out is withdrawn before a box
  // lets anything else run: it would go to the IDs just typed.
  g_App.WriteAttrPending = 0;
  static char text[FIELD_TEXT_SIZE];
  if (state.idsReformatting) {
    KeepIdsForReshow(dialog, state);
    TakeSendValue(dialog, text);
    return;
  }
  // In service mode the Attribute ID field holds the service code, which
  // also stands as the attribute ID.
  const IdField& last = g_App.ServiceMode ? SERVICE_FIELD : ATTRIBUTE_FIELD;
  int ids[3];
  if (!TakeIds(dialog, state, {CLASS_FIELD, INSTANCE_FIELD, last}, ids)) return;
  StoreIds(ids[0], ids[1], ids[2]);
  if (g_App.ServiceMode) g_App.ServiceCode = static_cast<uint8_t>(ids[2]);
  if (!TakeSendValue(dialog, text)) {
    RefuseSendValue(dialog, text);
    return;
  }
  g_App.WriteAttrPending = 1;
}

// Switches the ID radix without losing the IDs: the dialog's own Read or
// Write takes them in the old radix (starting no request and withdrawing
// one not yet started), the re-initialisation shows them in the new one.
void OnIdsRadixClicked(HWND dialog, AttrDialog& state) {
  g_App.IdsInHex = IsTicked(dialog, IDC_ATTR_IDS_HEX) ? 1 : 0;
  state.idsReformatting = true;
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  SendMessageA(dialog, WM_INITDIALOG, 0, 0);
}

// Nothing is re-shown: the new radix applies from the next Read or Write.
void OnValueRadixClicked(HWND dialog) {
  g_App.ValueInHex = IsTicked(dialog, IDC_ATTR_VALUE_HEX) ? 1 : 0;
}

void OnServiceClicked(HWND dialog) {
  g_App.ServiceMode = IsTicked(dialog, IDC_ATTR_SERVICE) ? 1 : 0;
}

// A value already shown keeps its text until the next Read or Write.
bool OnTypeClicked(HWND dialog, int controlId) {
  const int type = attributes::AttrTypeFromRadioId(controlId);
  if (type < 0) return false;
  g_App.AttrType = type;
  EnableValueRadix(dialog);
  return true;
}

// The commands both dialogs share; `onButton` is Read or Write.
INT_PTR OnCommand(HWND dialog, AttrDialog& state, int controlId, int code, void (*onButton)(HWND)) {
  if (code != BN_CLICKED) return FALSE;
  switch (controlId) {
    case IDOK:
      onButton(dialog);
      return TRUE;
    case IDCANCEL:
      DestroyWindow(dialog);
      return TRUE;
    case IDC_ATTR_IDS_HEX:
      OnIdsRadixClicked(dialog, state);
      return TRUE;
    case IDC_ATTR_VALUE_HEX:
      OnValueRadixClicked(dialog);
      return TRUE;
    default:
      return OnTypeClicked(dialog, controlId) ? TRUE : FALSE;
  }
}

INT_PTR OnReadCommand(HWND dialog, int controlId, int code) {
  return OnCommand(dialog, readDialog, controlId, code, OnReadButton);
}

INT_PTR OnWriteCommand(HWND dialog, int controlId, int code) {
  if (controlId == IDC_ATTR_SERVICE && code == BN_CLICKED) {
    OnServiceClicked(dialog);
    return TRUE;
  }
  return OnCommand(dialog, writeDialog, controlId, code, OnWriteButton);
}

void OnDestroy(HWND dialog, app::WindowHandle& handle, AttrDialog& state) {
  if (handle == dialog) handle = nullptr;
  state.idsReformatting = false;
}

}  // namespace

INT_PTR CALLBACK ReadAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnReadInitDialog(dialog);
    case WM_COMMAND:
      return OnReadCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
      OnDestroy(dialog, g_App.hReadAttrDlg, readDialog);
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK WriteAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnWriteInitDialog(dialog);
    case WM_COMMAND:
      return OnWriteCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
      OnDestroy(dialog, g_App.hWriteAttrDlg, writeDialog);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace ui
