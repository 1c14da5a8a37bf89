// A small file written whole under a name that nothing else has.
#include "platform/new_file.h"

#include "platform/file_handle.h"
#include "platform/last_error.h"

namespace plat {

bool WriteNewFile(WStringView path, std::string_view bytes) {
  const FileHandle file =
      OpenFileHandle(path, FileAccess::Write, FileShare::Exclusive, FileCreate::CreateNew);
  if (file == kInvalidFile) return false;
  const bool written = WriteFileHandle(file, bytes.data(), static_cast<uint32_t>(bytes.size())) >= 0;
  const uint32_t error = GetLastError();
  const bool closed = CloseFileHandle(file);
  if (!written) SetLastError(error);
  return written && closed;
}

}  // namespace plat
