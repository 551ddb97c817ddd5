// The surroundings of start-up on Windows: the registry, the instance mutex and window
// messages, the Win32 windows.
#pragma once

#include "app/installer_app.h"

StartupServices MakeWin32Services();

// A path check that does not hang on a network path that does not answer: such a path
// counts as not openable after nTimeoutMs.
bool FileCanBeOpenedWithin(const std::string& strPath, int nTimeoutMs);
