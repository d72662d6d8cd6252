#include <windows.h>

#include "ui/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  return ui::ProgramMain(instance, showState);
}
