// The help command on Windows: the carried user guide (HTML) written out when it is missing
// or outdated, then opened with the program the user chose for web pages.
#pragma once

#include <string>

// Opens a file or an address with the shell's "open" action; whether the shell took it.
bool OpenWithShell(const std::string& target);
// PrepareHelpFile, then OpenWithShell on the page.
bool ShowHelp();
