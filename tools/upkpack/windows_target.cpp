#include "windows_target.h"

#include <fstream>
#include <iterator>

#include "framework/byte_cursor.h"
#include "pack_error.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "platform/windows_names.h"

namespace upkpack {
namespace {

const uint8_t* At(const std::string& b, size_t at) { return reinterpret_cast<const uint8_t*>(b.data()) + at; }

std::string ReadHead(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot read " + path.string());
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

}  // namespace

std::optional<uint16_t> PeMachine(const std::string& b) {
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return std::nullopt;
  const uint32_t pe = GetLe32(At(b, 0x3C));
  if (pe > b.size() || b.size() - pe < 6 || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return std::nullopt;
  }
  return GetLe16(At(b, pe + 4));
}

void CheckWindowsInputs(const PackOptions& options) {
  if (options.target.empty()) return;
  const uint16_t wanted = options.target == "windows-i686" ? kMachineI386 : kMachineAmd64;
  for (const std::filesystem::path* input :
       {&options.setup, &options.upk4, &options.upk2, &options.qxsetup}) {
    const std::optional<uint16_t> machine = PeMachine(ReadHead(*input));
    if (machine != wanted) {
      throw PackError(input->string() + " is not a " + options.target + " image" +
                      (machine ? " (it is for another machine)" : " (not a Windows program)"));
    }
  }
}

void CheckWindowsPayloadName(plat::WStringView name) {
  if (const std::optional<plat::WString> problem = plat::WindowsNameProblem(name)) {
    throw PackError("the payload name \"" + plat::Utf16ToUtf8(name) +
                    "\" cannot be extracted on Windows: " + plat::Utf16ToUtf8(*problem));
  }
}

std::string LongPathWarning(plat::WStringView name, bool directory) {
  while (!name.empty() && plat::IsPathSeparator(name.back())) name.remove_suffix(1);
  // The directories above the entry are made before it.
  size_t parent = 0;
  for (size_t i = 0; i < name.size(); ++i)
    if (plat::IsPathSeparator(name[i])) parent = i;
  const size_t full = kTypicalRunDirectoryLength + name.size();
  const bool tooLong = full >= (directory ? kMaxDirectoryWithoutLongPaths : kMaxPathWithoutLongPaths) ||
                       (parent > 0 && kTypicalRunDirectoryLength + parent >= kMaxDirectoryWithoutLongPaths);
  if (!tooLong) return {};
  return "the payload name \"" + plat::Utf16ToUtf8(name) + "\" (" + std::to_string(name.size()) +
         " characters) needs long-path support on Windows: below a temporary directory of " +
         std::to_string(kTypicalRunDirectoryLength) + " characters its path reaches " +
         std::to_string(full) + "; without long paths enabled it fails there";
}

}  // namespace upkpack
