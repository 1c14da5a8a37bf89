#include "pack_options.h"

#include <charconv>
#include <limits>

#include "pack_error.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {

std::optional<int32_t> ParseInt32(const std::string& text) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  // Trailer fields are 32 bits; accept the unsigned spelling of negative ones.
  if (value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

}  // namespace

std::optional<uint64_t> ParseSize(const std::string& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc()) return std::nullopt;
  uint64_t unit = 1;
  const std::string suffix(ptr, end);
  if (suffix == "k" || suffix == "K") {
    unit = uint64_t{1} << 10;
  } else if (suffix == "m" || suffix == "M") {
    unit = uint64_t{1} << 20;
  } else if (suffix == "g" || suffix == "G") {
    unit = uint64_t{1} << 30;
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  if (value > std::numeric_limits<uint64_t>::max() / unit) return std::nullopt;
  return value * unit;
}

std::optional<int64_t> ParseSourceDateEpoch(const char* text) {
  if (text == nullptr) return std::nullopt;
  const std::string value(text);
  int64_t seconds = 0;
  const char* end = value.data() + value.size();
  const auto [ptr, ec] = std::from_chars(value.data(), end, seconds);
  if (value.empty() || value[0] == '-' || ec != std::errc() || ptr != end) {
    throw PackError("SOURCE_DATE_EPOCH is not a number of seconds: \"" + value + "\"");
  }
  return seconds;
}

void ApplyDefaultInputs(PackOptions& options, const fs::path& toolDirectory) {
  const fs::path root = toolDirectory / "..";
  if (!options.target.empty()) {
    const fs::path set = options.windowsSet.empty() ? root / options.target : options.windowsSet;
    if (options.setup.empty()) options.setup = set / "bin" / "Setup.exe";
    if (options.upk4.empty()) options.upk4 = set / "bin" / "upk4.dll";
    if (options.upk2.empty()) options.upk2 = set / "lib" / "upk" / "upk2.dll";
    if (options.qxsetup.empty()) options.qxsetup = set / "lib" / "upk" / "QXSetup.exe";
    return;
  }
  // Installed, the libraries are in the configured library directory (such
  // as lib/x86_64-linux-gnu); in the build tree, and by default, in lib.
  // The tools' package holds no development link: the library image is then
  // the runtime library's own file.
  fs::path lib = root / UPK_INSTALL_LIBDIR;
  std::error_code ec;
  const char* const kRuntimeName = "libupk4.so." UPK_VERSION_MAJOR;
  auto has = [&](const fs::path& dir, const char* name) { return fs::is_regular_file(dir / name, ec); };
  if (!has(lib, "libupk4.so") && !has(lib, kRuntimeName)) lib = root / "lib";
  if (options.setup.empty()) options.setup = root / "bin" / "Setup";
  if (options.upk4.empty()) {
    options.upk4 = lib / (has(lib, "libupk4.so") || !has(lib, kRuntimeName) ? "libupk4.so" : kRuntimeName);
  }
  if (options.upk2.empty()) options.upk2 = lib / "upk" / "upk2.so";
  if (options.qxsetup.empty()) options.qxsetup = lib / "upk" / "QXSetup.exe";
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, PackOptions& options) {
  bool subdirGiven = false;
  bool splitGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.payload.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" is the same as "--name value".
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= arguments.size()) throw PackError("option " + arg + " needs a value");
      return arguments[++i];
    };
    auto noValue = [&]() {
      if (inlineValue) throw PackError("option " + arg + " takes no value");
    };

    if (arg == "-h" || arg == "--help") {
      return ParseOutcome::Help;
    } else if (arg == "-o" || arg == "--output") {
      options.output = value();
    } else if (arg == "--setup") {
      options.setup = value();
    } else if (arg == "--upk4") {
      options.upk4 = value();
    } else if (arg == "--upk2") {
      options.upk2 = value();
    } else if (arg == "--qxsetup") {
      options.qxsetup = value();
    } else if (arg == "--target") {
      options.target = value();
      if (options.target != "windows-i686" && options.target != "windows-x86_64") {
        throw PackError("unknown target \"" + options.target +
                        "\" (windows-i686 or windows-x86_64)");
      }
    } else if (arg == "--windows-set") {
      options.windowsSet = value();
    } else if (arg == "--password") {
      options.password = value();
      if (options.password.empty()) throw PackError("the password must not be empty");
    } else if (arg == "--dereference" || arg == "-L") {
      noValue();
      options.dereference = true;
    } else if (arg == "--store") {
      noValue();
      options.store = true;
    } else if (arg == "--method") {
      options.method = value();
      if (options.method != "deflate" && options.method != "zstd" && options.method != "lzma")
        throw PackError("unknown method \"" + options.method + "\" (deflate, zstd or lzma)");
    } else if (arg == "--level") {
      const std::string text = value();
      const std::optional<int32_t> number = ParseInt32(text);
      if (!number) throw PackError("bad level: " + text);
      options.level = *number;
    } else if (arg == "--threads") {
      const std::string text = value();
      const std::optional<int32_t> number = ParseInt32(text);
      if (!number || *number < 1 || *number > 256) throw PackError("bad thread count: " + text);
      options.threads = static_cast<unsigned>(*number);
    } else if (arg == "--zip64") {
      noValue();
      options.zip64 = true;
    } else if (arg == "--archive") {
      options.archiveName = value();
    } else if (arg == "--subdir") {
      options.subdir = value();
      subdirGiven = true;
    } else if (arg == "--split") {
      const std::string text = value();
      const std::optional<uint64_t> size = ParseSize(text);
      if (!size || *size == 0) throw PackError("bad volume size: " + text);
      options.splitSize = *size;
      splitGiven = true;
    } else if (arg == "--open-value" || arg == "--init-value") {
      const std::string text = value();
      const std::optional<int32_t> number = ParseInt32(text);
      if (!number) throw PackError("bad number for " + arg + ": " + text);
      (arg == "--open-value" ? options.openValue : options.initValue) = *number;
    } else if (arg == "-q" || arg == "--quiet") {
      noValue();
      options.quiet = true;
    } else {
      throw PackError("unknown option " + arg + " (see --help)");
    }
  }

  if (options.output.empty()) throw PackError("no output given (-o OUT)");
  if (subdirGiven && !options.archiveName) throw PackError("--subdir needs --archive");
  if (splitGiven && !options.archiveName) throw PackError("--split needs --archive");
  if (options.level) {
    // Each method's own scale; LZMA's levels are xz's presets.
    const int low = options.method == "zstd" ? -7 : options.method == "lzma" ? 0 : 1;
    const int high = options.method == "zstd" ? 22 : 9;
    if (*options.level < low || *options.level > high)
      throw PackError("level " + std::to_string(*options.level) + " is outside " +
                      std::to_string(low) + ".." + std::to_string(high) + " for " + options.method);
  }
  if (!options.windowsSet.empty() && options.target.empty()) {
    throw PackError("--windows-set needs --target");
  }
  return ParseOutcome::Run;
}

const char* UsageText() {
  return R"(usage: upkpack -o OUT [options] [FILE|DIR ...]

Builds a runnable package: the Setup program with the upk4 library, the
payload archive (or a config naming the archive beside it), the config
block and the package trailer appended. The archive holds "A11" (the second
stage), "QXSetup.exe" (the setup program) and the payload files. The result
is tested entry by entry through the upk4 reader before it replaces OUT.

Payload: a FILE is stored under its own name; a DIR with its whole tree
under the directory's name ("DIR/." stores the tree's contents at the top).

Options:
  -o, --output OUT     the package to write
  --setup PATH         the Setup program        (default ../bin/Setup)
  --upk4 PATH          the upk4 library image   (default ../lib/libupk4.so)
  --upk2 PATH          the second stage, "A11"  (default ../lib/upk/upk2.so)
  --qxsetup PATH       the setup program        (default ../lib/upk/QXSetup.exe)
                       (defaults are relative to the directory of upkpack)
  --target T           a package for Windows: T is windows-i686 (the
                       release target) or windows-x86_64; the inputs default
                       to the Windows set in --windows-set DIR (a Windows
                       build tree or install prefix, default ../T):
                       bin/Setup.exe, bin/upk4.dll, lib/upk/upk2.dll and
                       lib/upk/QXSetup.exe, each checked to be a Windows
                       image for T
  --password PW        encrypt the entries (traditional PKWARE encryption);
                       printable ASCII, no "|"
  --store              store the entries instead of compressing them
  --method M           compress the entries with M: deflate (the default:
                       every ZIP reader reads it), zstd (Zstandard) or lzma;
                       readers other than upk4 may not read zstd or lzma
                       entries (a second stage built on one, too). An entry
                       that does not shrink is stored, whatever the method
  --level N            the method's level: 1..9 for deflate (default 6),
                       -7..22 for zstd (default 19), 0..9 for lzma (xz's
                       presets; default 9 extreme). Zstandard windows and LZMA dictionaries
                       stay within 8 MiB, which upk4 reads with bounded memory
  --threads N          compress N entries at once (default: one per
                       processor); the archive is the same whatever N is
  -L, --dereference    take what symbolic links in payload directories point
                       to (files and directory trees); without it a link
                       there is refused
  --zip64              ZIP64 fields for every entry (entries and archives
                       past 4 GiB get them anyway)
  --archive NAME       write the archive beside the package as NAME instead
                       of inside it; a "%" in NAME is taken literally
  --subdir DIR         ... in the subdirectory DIR of the package's directory
  --split SIZE         ... cut into volumes of at most SIZE bytes (k, M, G
                       suffixes allowed); NAME holds one "%d", which
                       becomes 1 for the last volume and 2, 3, ... for the
                       first, second, ... (e.g. data%d.zip)
  --open-value N       trailer value handed to UPK4_Open (default 0)
  --init-value N       trailer value handed to UPKInit (default 10796611)
  -q, --quiet          no summary and no progress line
  -h, --help           this text

Environment: SOURCE_DATE_EPOCH (seconds since 1970) gives every entry that
time, in UTC, instead of its file's, and makes the encryption headers depend
on the password and the entry only: the same inputs then give the same bytes.

Exit status: 0 when the package was written and tested, 1 on any failure
(nothing is left behind then), 2 for a malformed command line.
)";
}

}  // namespace upkpack
