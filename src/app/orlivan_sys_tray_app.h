// The notifier's application object: runs the hidden main dialog for the whole
// life of the process.
#pragma once

#include "framework/application.h"

class COrlivanSysTrayApp : public CWinApp {
public:
    COrlivanSysTrayApp() = default;

    // Runs the main dialog modally; returns FALSE when it has ended, so the
    // process exits.
    BOOL InitInstance() override;
};
