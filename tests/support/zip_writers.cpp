#include "zip_writers.h"
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include "upk4/zip_format.h"

namespace fs = std::filesystem;

namespace upktest {
namespace {

std::string QuotedNames(const std::vector<ZipInput>& inputs) {
  std::string names;
  for (const ZipInput& in : inputs) names += " " + ShellQuote(in.name);
  return names;
}

// Stages the inputs in a directory of their own and returns it.
std::string Stage(const TempDir& dir, const std::string& archiveName,
                  const std::vector<ZipInput>& inputs) {
  std::string root = dir.Path("staging-" + archiveName);
  fs::remove_all(root);
  fs::create_directories(root);
  StageInputs(root, inputs);
  return root;
}

void Run(const std::string& cmd, std::string* out = nullptr) {
  int rc = RunCommand(cmd, out);
  if (rc != 0)
    throw std::runtime_error("writer failed (exit " + std::to_string(rc) + "): " + cmd);
}

uint32_t ParseHex(const std::string& text) {
  return text.empty() ? 0 : static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

const char kPythonWriter[] = R"(
import sys, zipfile, os
root, archive, comp, commentfile = sys.argv[1:5]
m = {"stored": zipfile.ZIP_STORED, "lzma": zipfile.ZIP_LZMA}.get(comp, zipfile.ZIP_DEFLATED)
out = sys.stdout.buffer if archive == "-" else archive
with zipfile.ZipFile(out, "w", compression=m) as z:
    for n in sys.argv[5:]:
        z.write(os.path.join(root, n), n)
    if commentfile:
        z.comment = open(commentfile, "rb").read()
)";

const char kPythonZip64Writer[] = R"(
import sys, zipfile, os
root, archive, comp = sys.argv[1:4]
m = zipfile.ZIP_STORED if comp == "stored" else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(archive, "w", compression=m, allowZip64=True) as z:
    for n in sys.argv[4:]:
        if n.endswith("/"):
            z.write(os.path.join(root, n), n)
            continue
        with open(os.path.join(root, n), "rb") as f, z.open(n, "w", force_zip64=True) as out:
            out.write(f.read())
)";

const char kPythonLister[] = R"(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    d = "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time
    print("\t".join([i.filename, str(i.file_size), str(i.compress_size), "%08x" % i.CRC,
                     str(i.compress_type), str(i.flag_bits), str(i.external_attr), d]))
)";

}  // namespace

void StageInputs(const std::string& root, const std::vector<ZipInput>& inputs) {
  for (const ZipInput& in : inputs) {
    if (in.IsDirectory())
      fs::create_directories(root + "/" + in.name);
    else
      WriteFile(root + "/" + in.name, in.data);
  }
}

std::string MakeZipInfoZip(const TempDir& dir, const std::string& archiveName,
                           const std::vector<ZipInput>& inputs, ZipMethod method,
                           const std::string& options) {
  std::string root = Stage(dir, archiveName, inputs);
  std::string archive = dir.Path(archiveName);
  Run("cd " + ShellQuote(root) + " && zip -q " + (method == ZipMethod::stored ? "-0 " : "-6 ") +
      options + " " + ShellQuote(archive) + QuotedNames(inputs));
  return archive;
}

std::string MakeZipInfoZipStreamed(const TempDir& dir, const std::string& archiveName,
                                   const std::vector<ZipInput>& inputs, ZipMethod method) {
  std::string root = Stage(dir, archiveName, inputs);
  std::string archive = dir.Path(archiveName);
  Run("cd " + ShellQuote(root) + " && zip -q " + (method == ZipMethod::stored ? "-0" : "-6") +
      " -" + QuotedNames(inputs) + " | cat > " + ShellQuote(archive));
  return archive;
}

namespace {
const char* MethodWord(ZipMethod method) {
  switch (method) {
    case ZipMethod::stored: return "stored";
    case ZipMethod::lzma: return "lzma";
    case ZipMethod::deflated: break;
  }
  return "deflated";
}
}  // namespace

std::string MakeZipPython(const TempDir& dir, const std::string& archiveName,
                          const std::vector<ZipInput>& inputs, ZipMethod method, bool streamed,
                          const std::string& comment) {
  std::string root = Stage(dir, archiveName, inputs);
  std::string archive = dir.Path(archiveName);
  std::string commentFile;
  if (!comment.empty()) {
    commentFile = dir.Path("comment-" + archiveName);
    WriteFile(commentFile, comment);
  }
  std::string cmd = "python3 -c " + ShellQuote(kPythonWriter) + " " + ShellQuote(root) + " " +
                    (streamed ? std::string("-") : ShellQuote(archive)) + " " +
                    MethodWord(method) + " " + ShellQuote(commentFile) + QuotedNames(inputs);
  if (streamed) cmd += " | cat > " + ShellQuote(archive);
  Run(cmd);
  return archive;
}

std::string MakeZipPythonZip64(const TempDir& dir, const std::string& archiveName,
                               const std::vector<ZipInput>& inputs, ZipMethod method) {
  std::string root = Stage(dir, archiveName, inputs);
  std::string archive = dir.Path(archiveName);
  Run("python3 -c " + ShellQuote(kPythonZip64Writer) + " " + ShellQuote(root) + " " +
      ShellQuote(archive) + " " + (method == ZipMethod::stored ? "stored" : "deflated") +
      QuotedNames(inputs));
  return archive;
}

std::string MakeZipInfoZipFromPipe(const TempDir& dir, const std::string& archiveName,
                                   const std::string& data, ZipMethod method,
                                   bool streamedOutput) {
  const std::string input = dir.Path("pipe-input-" + archiveName);
  WriteFile(input, data);
  std::string archive = dir.Path(archiveName);
  std::string cmd = "cat " + ShellQuote(input) + " | zip -q " +
                    (method == ZipMethod::stored ? "-0" : "-6");
  cmd += streamedOutput ? " - - | cat > " + ShellQuote(archive) : " " + ShellQuote(archive) + " -";
  Run(cmd);
  return archive;
}

std::string MakeZip7z(const TempDir& dir, const std::string& archiveName,
                      const std::vector<ZipInput>& inputs, ZipMethod method,
                      const std::string& password) {
  std::string root = Stage(dir, archiveName, inputs);
  std::string archive = dir.Path(archiveName);
  std::string opts = method == ZipMethod::stored ? " -mx=0" : " -mm=Deflate -mx=5";
  if (!password.empty()) opts += " -mem=ZipCrypto -p" + ShellQuote(password);
  Run("cd " + ShellQuote(root) + " && 7z a -tzip -bd -y -mcu=on" + opts + " " + ShellQuote(archive) +
      QuotedNames(inputs) + " > /dev/null");
  return archive;
}

std::string MakeZipBsdtar(const TempDir& dir, const std::string& archiveName,
                          const std::vector<ZipInput>& inputs, ZipMethod method) {
  std::string root = Stage(dir, archiveName, inputs);
  std::string archive = dir.Path(archiveName);
  std::string opts = method == ZipMethod::stored ? " --options zip:compression=store" : "";
  Run("cd " + ShellQuote(root) + " && bsdtar --format zip -n" + opts + " -cf " +
      ShellQuote(archive) + QuotedNames(inputs));
  return archive;
}

std::vector<std::string> MakeSplitZipInfoZip(const TempDir& dir, const std::string& base,
                                             const std::vector<ZipInput>& inputs,
                                             ZipMethod method, const std::string& splitSize,
                                             const std::string& password) {
  std::string subdir = dir.Path("split-" + base);
  fs::create_directories(subdir);
  std::string root = Stage(dir, base, inputs);
  std::string archive = subdir + "/" + base + ".zip";
  Run("cd " + ShellQuote(root) + " && zip -q " + (method == ZipMethod::stored ? "-0" : "-6") +
      (password.empty() ? "" : " -P " + ShellQuote(password)) + " -s " + splitSize + " " +
      ShellQuote(archive) + QuotedNames(inputs));
  std::vector<std::string> volumes;
  for (int n = 1;; ++n) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".z%02d", n);
    std::string from = subdir + "/" + base + ext;
    if (!FileExists(from)) break;
    std::string to = subdir + "/" + base + std::to_string(n + 1) + ".zip";
    fs::rename(from, to);
    volumes.push_back(to);
  }
  std::string last = subdir + "/" + base + "1.zip";
  fs::rename(archive, last);
  volumes.push_back(last);
  return volumes;
}

std::vector<ListedEntry> ListWithUnzip(const std::string& archive) {
  std::string out;
  Run("unzip -v " + ShellQuote(archive), &out);
  std::vector<ListedEntry> entries;
  std::istringstream lines(out);
  std::string line;
  int dashes = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("--------", 0) == 0) {
      ++dashes;
      continue;
    }
    if (dashes != 1) continue;
    std::istringstream fields(line);
    std::string length, method, size, ratio, date, time, crc;
    fields >> length >> method >> size >> ratio >> date >> time >> crc;
    ListedEntry e;
    e.size = std::stoull(length);
    e.packedSize = std::stoull(size);
    e.crc = ParseHex(crc);
    e.method = method == "Stored" ? zip::kMethodStored : method.rfind("Defl", 0) == 0 ? zip::kMethodDeflated : -1;
    size_t at = line.find(crc + "  ");
    e.name = line.substr(at + crc.size() + 2);
    entries.push_back(e);
  }
  return entries;
}

std::vector<ListedEntry> ListWithPython(const std::string& archive) {
  std::string out;
  Run("python3 -c " + ShellQuote(kPythonLister) + " " + ShellQuote(archive), &out);
  std::vector<ListedEntry> entries;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() != 8) continue;
    ListedEntry e;
    e.name = f[0];
    e.size = std::stoull(f[1]);
    e.packedSize = std::stoull(f[2]);
    e.crc = ParseHex(f[3]);
    e.method = std::stoi(f[4]);
    e.flags = std::stoi(f[5]);
    e.attributes = std::stoll(f[6]);
    e.modified = f[7];
    entries.push_back(e);
  }
  return entries;
}

std::vector<ListedEntry> ListWith7z(const std::string& archive) {
  std::string out;
  Run("7z l -slt " + ShellQuote(archive), &out);
  std::vector<ListedEntry> entries;
  std::istringstream lines(out);
  std::string line;
  bool inEntries = false;
  ListedEntry current;
  bool have = false;
  auto flush = [&] {
    if (have) entries.push_back(current);
    current = ListedEntry{};
    have = false;
  };
  while (std::getline(lines, line)) {
    if (line.rfind("----------", 0) == 0) {
      inEntries = true;
      continue;
    }
    if (!inEntries) continue;
    size_t eq = line.find(" = ");
    std::string key = eq == std::string::npos ? line : line.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : line.substr(eq + 3);
    if (line.rfind("Path = ", 0) == 0) {
      flush();
      current.name = value;
      have = true;
    } else if (key == "Folder" && value == "+") {
      current.name += "/";
    } else if (key == "Size") {
      current.size = std::stoull(value);
    } else if (key == "Packed Size") {
      current.packedSize = std::stoull(value);
    } else if (key == "CRC") {
      current.crc = ParseHex(value);
    } else if (key == "Method") {
      current.method = value.find("Store") != std::string::npos     ? zip::kMethodStored
                       : value.find("Deflate") != std::string::npos ? zip::kMethodDeflated
                                                                    : -1;
    }
  }
  flush();
  return entries;
}

}  // namespace upktest
