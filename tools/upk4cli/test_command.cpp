// upk4 test: decodes every entry of an archive through the reader and checks
// its CRC-32, without writing anything.
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include "commands.h"
#include "open_archive.h"
#include "framework/exception.h"
#include "platform/code_page.h"
#include "upk4/archive.h"
#include "upk4/password.h"
#include "upk4/byte_block.h"
#include "upk4/zip_exception.h"

namespace {

void PrintTestUsage(FILE* out) {
  std::fprintf(out,
               "usage: upk4 test ARCHIVE [--password PW]\n"
               "       upk4 test --package PACKAGE\n\n"
               "Decodes every entry of ARCHIVE and checks its CRC-32 (and its data\n"
               "descriptor, when it has one). Prints \"OK name\" or \"FAILED name: reason\"\n"
               "per entry and a summary. Exit code 0 when every entry is sound, 1 when\n"
               "any failed or the archive cannot be opened, 2 on bad usage.\n\n"
               "With --package, checks the CRC-32 that upkpack recorded in PACKAGE's\n"
               "trailer over everything before its config block, as Setup does before it\n"
               "runs anything, and runs nothing. Exit code 0 when it matches (or none is\n"
               "recorded, which the line says), 1 when it does not, the file is no\n"
               "package or it cannot be read, 2 on bad usage.\n\n"
               "  --password PW      password for encrypted entries\n"
               "  --package PACKAGE  check PACKAGE's own CRC-32 instead of an archive\n");
}

std::string DisplayName(const EntryRecord& entry) {
  std::string name = plat::Utf16ToUtf8(entry.GetNameWide());
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

std::string ZipCause(const CZipException& e) {
  switch (e.m_iCause) {
    case CZipException::badCrc: return "CRC-32 mismatch";
    case CZipException::badPassword: return "wrong password";
    case CZipException::badZipFile: return "damaged or truncated data";
    case CZipException::dataError: return "corrupt compressed data";
    case CZipException::generic: return "data descriptor mismatch or other damage";
    default: return plat::Utf16ToUtf8(CZipException(e.m_iCause).GetErrorMessage());
  }
}

// The cause, and where the reader found it.
std::string ZipReason(const CZipException& e) {
  if (e.m_strDetail.empty()) return ZipCause(e);
  return ZipCause(e) + " (" + e.m_strDetail + ")";
}

// Decodes one entry; empty on success, else the reason.
std::optional<std::string> TestEntry(const Archive& archive, uint16_t index,
                                     const std::optional<std::string>& password, ByteBlock& buffer) {
  try {
    const std::unique_ptr<EntryReader> reader = archive.OpenEntry(index, password);
    if (!reader) return "encrypted, and no usable password given";
    while (reader->Read(buffer.data, buffer.size) == buffer.size) {
    }
    const int32_t verdict = reader->Finish();
    reader->CheckDescriptor();
    if (verdict != 1) return "data ends before the entry's size";
    return std::nullopt;
  } catch (const CZipException& e) {
    return ZipReason(e);
  } catch (const CException& e) {
    return MessageForUser(e);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
}

}  // namespace

int RunTest(int argc, char** argv) {
  if (argc >= 2 && IsHelpArgument(argv[1])) {
    PrintTestUsage(stdout);
    return 0;
  }
  const char* archivePath = nullptr;
  const char* packagePath = nullptr;
  std::optional<std::string> password;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--package") == 0 && i + 1 < argc && packagePath == nullptr) {
      packagePath = argv[++i];
    } else if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
      password = argv[++i];
    } else if (archivePath == nullptr && argv[i][0] != '-') {
      archivePath = argv[i];
    } else {
      PrintTestUsage(stderr);
      return 2;
    }
  }
  if (packagePath != nullptr) {
    if (archivePath != nullptr || password) {
      PrintTestUsage(stderr);
      return 2;
    }
    return RunPackageTest(packagePath);
  }
  if (archivePath == nullptr) {
    PrintTestUsage(stderr);
    return 2;
  }

  const std::unique_ptr<Archive> archive = OpenArchiveForTool(archivePath);
  if (!archive) return 1;
  std::optional<std::string> key;
  if (password && !PasswordBytes(plat::Utf8ToUtf16(*password).c_str(), key))
    std::fprintf(stderr, "upk4: password refused (only ASCII characters are usable)\n");

  ByteBlock buffer(65535, false);
  size_t passed = 0, failed = 0;
  for (size_t i = 0; i < archive->EntryCount(); ++i) {
    const EntryRecord& entry = archive->Entry(i);
    const std::string name = DisplayName(entry);
    if (entry.IsDirectory()) {
      std::printf("OK %s\n", name.c_str());
      ++passed;
      continue;
    }
    const std::optional<std::string> failure =
        TestEntry(*archive, static_cast<uint16_t>(i), key, buffer);
    if (failure) {
      std::printf("FAILED %s: %s\n", name.c_str(), failure->c_str());
      ++failed;
    } else {
      std::printf("OK %s\n", name.c_str());
      ++passed;
    }
  }
  std::printf("%zu entries: %zu OK, %zu failed\n", passed + failed, passed, failed);
  return failed == 0 ? 0 : 1;
}
