// upk4 list ARCHIVE: one line per entry with what its central header says.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <new>
#include <string>
#include <vector>
#include "commands.h"
#include "open_archive.h"
#include "platform/code_page.h"
#include "framework/exception.h"
#include "upk4/archive.h"
#include "upk4/zip_format.h"

namespace {

void PrintListUsage(FILE* out) {
  std::fprintf(out,
               "usage: upk4 list ARCHIVE\n\n"
               "Lists every entry of ARCHIVE: name, method (stored, deflate, lzma, zstd,\n"
               "or the number of any other method),\n"
               "general-purpose flags, compressed and uncompressed size, CRC-32,\n"
               "modification time (local) and external attributes.\n"
               "A split archive is named by its volume-name pattern: data%%d.zip\n"
               "opens data1.zip (the last volume, which holds the directory) and\n"
               "finds the others as data2.zip, data3.zip, ... in the same directory.\n");
}

std::string FormatLocalTime(plat::CalendarTime t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm* tm = std::localtime(&tt);
  if (tm == nullptr) return "0000-00-00 00:00:00";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", tm);
  return text;
}

// Names are held with "\" separators; shown as the writers show them.
std::string DisplayName(const EntryRecord& entry) {
  std::string name = plat::Utf16ToUtf8(entry.GetNameWide());
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// The method by name; the number for one this reader does not decode.
std::string MethodText(uint16_t method) {
  const char* name = zip::MethodName(method);
  return name != nullptr ? name : std::to_string(method);
}

}  // namespace

int RunList(int argc, char** argv) {
  if (argc >= 2 && IsHelpArgument(argv[1])) {
    PrintListUsage(stdout);
    return 0;
  }
  if (argc != 2) {
    PrintListUsage(stderr);
    return 2;
  }
  const char* archivePath = argv[1];
  const std::unique_ptr<Archive> archive = OpenArchiveForTool(archivePath);
  if (!archive) return 1;

  std::vector<std::string> names;
  size_t width = 4;
  for (size_t i = 0; i < archive->EntryCount(); ++i) {
    names.push_back(DisplayName(archive->Entry(i)));
    width = std::max(width, names.back().size());
  }
  std::printf("%-*s  %-7s  %-6s  %10s  %12s  %-8s  %-19s  %s\n", static_cast<int>(width), "Name",
              "Method", "Flags", "Compressed", "Uncompressed", "CRC-32", "Modified", "Attributes");
  for (size_t i = 0; i < archive->EntryCount(); ++i) {
    const EntryRecord& e = archive->Entry(i);
    std::printf("%-*s  %-7s  0x%04X  %10lu  %12lu  %08lX  %s  0x%08lX\n", static_cast<int>(width),
                names[i].c_str(), MethodText(e.method).c_str(), static_cast<unsigned>(e.flags),
                static_cast<unsigned long>(e.compressedSize),
                static_cast<unsigned long>(e.uncompressedSize), static_cast<unsigned long>(e.crc32),
                FormatLocalTime(e.GetModificationTime()).c_str(),
                static_cast<unsigned long>(e.externalAttributes));
  }
  return 0;
}
