#include "windows_target.h"

#include <fstream>
#include <iterator>

#include "pack_error.h"

namespace upkpack {
namespace {

uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

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
  const uint32_t pe = Le(b, 0x3C, 4);
  if (pe > b.size() || b.size() - pe < 6 || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(Le(b, pe + 4, 2));
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

}  // namespace upkpack
