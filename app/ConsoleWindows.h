// The console's three windows as a program runs them: the main window and both expert terminals, each
// reachable through its global while it lives. Each window clears its own global as it goes.
#pragma once

#include "fExpertMode1.h"
#include "fExpertMode2.h"
#include "fMain.h"

struct ConsoleWindows {
    ConsoleWindows() {
        frmMain = &main;
        frmExpertMode2 = &expertMode2;
        frmExpertMode1 = &expertMode1;
    }
    ConsoleWindows(const ConsoleWindows&) = delete;
    ConsoleWindows& operator=(const ConsoleWindows&) = delete;

    // The terminals find the main window's ports through frmMain, so it is built first and goes last.
    TfrmMain main;
    TfrmExpertMode2 expertMode2;
    TfrmExpertMode1 expertMode1;
};
