// The main window's side of communication start, stop and the cyclic step:
// the window functions the master services call through master::CommView.
#pragma once

namespace ui {

// Installs the main window's functions in master::CommView. Called at
// start-up, before the main window exists.
void RegisterCommView();

}  // namespace ui
