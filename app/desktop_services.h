// The real surroundings of start-up on a Linux desktop: the user's settings file, the
// instance lock and local socket in the private runtime directory, the program's own file,
// Qt's dialogs and the main window.
#pragma once

#include "app/installer_app.h"

// argc must outlive the returned services (the application object keeps a reference).
StartupServices MakeDesktopServices(int& argc, char** argv);
