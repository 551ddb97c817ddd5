// The carried files are the same on every system now: see shell/carried_files.h.
#pragma once

#include "shell/carried_files.h"
