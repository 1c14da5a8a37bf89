#include "platform/file_system.h"

namespace plat {

// Windows runs a program by its name; there is no mode bit to set.
bool SetExecutable(WStringView path) { return PathFileExists(path); }

}  // namespace plat
