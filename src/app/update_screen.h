// What an update check shows on Windows: its message boxes and the update
// dialog.
#pragma once

#include "update/update_ui.h"

// Who started an update check, which decides how its outcome is shown.
enum class UpdateCheckOrigin {
    // The tray menu: the exchange runs away from the user-interface thread
    // (the main dialog shows the wait cursor meanwhile), its outcome on that
    // thread; boxes and dialog as any the user opened.
    Menu,
    // A notification, on the worker thread of a program in the background:
    // boxes and dialog come to the front and stay on top, so they are not
    // hidden behind other windows while the worker waits for them.
    Notification,
};

// The screen for checks of that origin, one of each for the process; the
// service object shows every check on the one it is given.
CUpdateUi& UpdateScreen(UpdateCheckOrigin origin);
