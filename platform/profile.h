// The profile-string writer (WritePrivateProfileStringW). On POSIX a small
// INI writer of our own, UTF-8.
#pragma once
#include "platform/win_types.h"

namespace plat {

// Writes key=value into [section] of the file, creating the file and the
// section when missing and replacing an existing value of the key.
bool WriteProfileString(WStringView section, WStringView key, WStringView value,
                        WStringView fileName);
// Writes a new file that holds only [section] with key=value: never merged
// into what is there. Fails (ERROR_FILE_EXISTS) when anything has the name.
// UTF-16LE with its byte-order mark on Windows (the profile reader takes
// every character from it), UTF-8 on POSIX.
bool WriteNewProfileFile(WStringView section, WStringView key, WStringView value,
                         WStringView fileName);
// Reads a value back; the default when the file, section or key is missing.
WString ReadProfileString(WStringView section, WStringView key, WStringView defaultValue,
                          WStringView fileName);

}  // namespace plat
