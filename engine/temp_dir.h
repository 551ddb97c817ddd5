// The directory for files the run extracts or converts.
#pragma once

#include <string>

// TMP, else TEMP, else TMPDIR, else "/tmp/" (an empty value counts as unset); at most 512
// characters of the value are taken, and a "/" is appended unless the text already ends with one.
std::string GetTempDir();
