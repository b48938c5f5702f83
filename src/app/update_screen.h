// What an update check shows on Windows: its message boxes and the update
// dialog.
#pragma once

#include "update/update_ui.h"

// The one screen of the process; the service object shows every check on it.
CUpdateUi& UpdateScreen();
