// The directory for files the run extracts or converts.
#pragma once

#include <string>

// Linux: TMP, else TEMP, else TMPDIR, else "/tmp/" (an empty value counts as unset). Windows:
// the folder GetTempPath names (TMP, else TEMP, else the user's profile folder). At most 512
// characters of it are taken, and a separator is appended unless the text already ends with one.
std::string GetTempDir();
