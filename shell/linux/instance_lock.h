// The single-instance rule on Linux: a lock file held for the life of the first instance
// stands for the instance mutex. Both it and the first instance's local socket live in a
// directory only the user can enter.
#pragma once

#include <string>

#include "shell/file_lock.h"
#include "shell/instance_channel.h"

namespace instance {

// The key as a file name short enough for a socket address: the key itself, or for a long
// program name its first characters and a hash of the whole key.
std::string KeyFileName(const std::string& strKey);

// $XDG_RUNTIME_DIR/Cradlecourier, or without a usable runtime directory the temporary
// directory's "Cradlecourier-UID" (/tmp's when the other is too deep for a socket's
// address); created with permissions 0700 when missing. Empty when it can't be made, is a
// link, belongs to someone else or others may enter it.
std::string PrivateRuntimeDir();

}  // namespace instance
