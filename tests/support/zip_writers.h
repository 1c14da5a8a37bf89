// Archives made by real writers at test time, and the writers' own listings
// as oracles. Every archive is built from a staging directory inside the
// test's TempDir.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "test_support.h"

namespace upktest {

// One input of an archive. Names use "/"; a directory's name ends in "/".
struct ZipInput {
  std::string name;
  std::string data;
  bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
};

// lzma: Python's zipfile only (method 14, with the end marker).
enum class ZipMethod { stored, deflated, lzma };

// Writes the inputs below root (directories created, files written).
void StageInputs(const std::string& root, const std::vector<ZipInput>& inputs);

// Info-ZIP zip: the inputs named in order (directories as entries of their
// own), with extra options such as "-P secret" or "-s 64k". Returns the
// archive path. Fails the calling test's assertion via the exit code check.
std::string MakeZipInfoZip(const TempDir& dir, const std::string& archiveName,
                           const std::vector<ZipInput>& inputs, ZipMethod method,
                           const std::string& options = "");
// Info-ZIP zip writing to a pipe: every file entry gets a data descriptor
// (with signature).
std::string MakeZipInfoZipStreamed(const TempDir& dir, const std::string& archiveName,
                                   const std::vector<ZipInput>& inputs, ZipMethod method);
// Python's zipfile. streamed: written to an unseekable pipe, so file entries
// carry data descriptors. comment: the archive comment (up to 65535 bytes).
std::string MakeZipPython(const TempDir& dir, const std::string& archiveName,
                          const std::vector<ZipInput>& inputs, ZipMethod method,
                          bool streamed = false, const std::string& comment = "");
// Python's zipfile with ZIP64 records forced on every file entry (as it
// writes entries over 4 GiB): ZIP64 extra fields in local and central
// headers.
std::string MakeZipPythonZip64(const TempDir& dir, const std::string& archiveName,
                               const std::vector<ZipInput>& inputs, ZipMethod method);
// Info-ZIP zip reading its one entry "-" from a pipe, so that it cannot know
// the size and writes ZIP64 local fields. streamedOutput: the archive goes
// to a pipe as well, so the entry ends in a ZIP64 data descriptor.
std::string MakeZipInfoZipFromPipe(const TempDir& dir, const std::string& archiveName,
                                   const std::string& data, ZipMethod method,
                                   bool streamedOutput);
// 7-Zip (-tzip), names that are not ASCII in UTF-8 (flag bit 11).
// password non-empty: ZipCrypto with that password.
std::string MakeZip7z(const TempDir& dir, const std::string& archiveName,
                      const std::vector<ZipInput>& inputs, ZipMethod method,
                      const std::string& password = "");
// bsdtar --format zip.
std::string MakeZipBsdtar(const TempDir& dir, const std::string& archiveName,
                          const std::vector<ZipInput>& inputs, ZipMethod method);

// Splits with zip -s SIZE (e.g. "64k") and renames the volumes into the
// pattern: base.z01 -> base2.ext ... base.zNN -> base(N+1).ext and
// base.zip -> base1.ext. Returns the volume paths in volume order, the last
// one being base1.zip (the file to open with the pattern "base%d.zip").
// With a password the entries are encrypted (zip -P).
std::vector<std::string> MakeSplitZipInfoZip(const TempDir& dir, const std::string& base,
                                             const std::vector<ZipInput>& inputs,
                                             ZipMethod method, const std::string& splitSize,
                                             const std::string& password = {});

// What a writer's listing says about one entry. Fields a listing does not
// give stay at their defaults.
struct ListedEntry {
  std::string name;
  uint64_t size = 0;
  uint64_t packedSize = 0;
  uint32_t crc = 0;
  int method = -1;         // 0 stored, 8 deflated, -1 not given
  int flags = -1;          // general-purpose flags, -1 not given
  int64_t attributes = -1; // external attributes, -1 not given
  std::string modified;    // "YYYY-MM-DD HH:MM:SS" when given
};

// unzip -v.
std::vector<ListedEntry> ListWithUnzip(const std::string& archive);
// Python's zipfile infolist: everything including flags, attributes, time.
std::vector<ListedEntry> ListWithPython(const std::string& archive);
// 7z l -slt.
std::vector<ListedEntry> ListWith7z(const std::string& archive);

}  // namespace upktest
