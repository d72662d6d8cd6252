// Native build only: how many wait cursors are shown and not yet restored.
#pragma once

namespace persist {

int WaitCursorsShown();

}  // namespace persist
