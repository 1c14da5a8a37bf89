// The package builder's command line.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace upkpack {

struct PackOptions {
  std::filesystem::path output;
  std::filesystem::path setup;    // the bootstrapper program
  std::filesystem::path upk4;     // the unpacker library image
  std::filesystem::path upk2;     // the second stage, entry "A11"
  std::filesystem::path qxsetup;  // the setup program, entry "QXSetup.exe"
  std::string password;           // empty: no encryption
  bool store = false;             // stored entries instead of deflated
  // How file entries are compressed: "deflate" (every ZIP reader reads
  // it), "zstd" or "lzma"; level: the method's own scale, unset for its
  // default.
  std::string method = "deflate";
  std::optional<int> level;
  unsigned threads = 0;           // entries compressed at once; 0: one per processor
  bool zip64 = false;             // ZIP64 fields for every entry
  std::optional<std::string> archiveName;  // archive beside the package
  std::string subdir;                      // with archiveName only
  uint64_t splitSize = 0;                  // 0: one archive file
  int32_t openValue = 0;
  int32_t initValue = 10796611;
  bool quiet = false;
  bool dereference = false;       // links in payload directories taken as what they point to
  std::optional<int64_t> sourceDateEpoch;  // from SOURCE_DATE_EPOCH: fixed entry times
  std::vector<std::filesystem::path> payload;
  // "windows-i686" or "windows-x86_64": the four inputs are that Windows
  // set (from windowsSet, a Windows build tree or install prefix) and are
  // checked to be images of that machine. Empty: this system's own.
  std::string target;
  std::filesystem::path windowsSet;
};

enum class ParseOutcome { Run, Help };

// The defaults of the four input files, from the install layout around the
// directory that holds upkpack (bin/Setup, lib/libupk4.so, lib/upk/upk2.so,
// lib/upk/QXSetup.exe); for a Windows target, the Windows set in
// windowsSet (default ../windows-ARCH): bin/Setup.exe, bin/upk4.dll,
// lib/upk/upk2.dll, lib/upk/QXSetup.exe.
void ApplyDefaultInputs(PackOptions& options, const std::filesystem::path& toolDirectory);

// Parses argv[1..]. Throws PackError for a malformed command line. Inputs not
// given stay empty; ApplyDefaultInputs fills them.
ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, PackOptions& options);

// The value of SOURCE_DATE_EPOCH (null when unset): seconds since 1970.
// Throws PackError when it is set but not a plain decimal number.
std::optional<int64_t> ParseSourceDateEpoch(const char* text);

// "64k", "10M", "1g" or plain bytes.
std::optional<uint64_t> ParseSize(const std::string& text);

const char* UsageText();

}  // namespace upkpack
