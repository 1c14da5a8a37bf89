// Win32 system calls: none; Windows runs a program by its name, there is no
// mode bit to set.
#include "platform/file_system.h"

namespace plat {

bool SetExecutable(WStringView path) { return PathFileExists(path); }

}  // namespace plat
