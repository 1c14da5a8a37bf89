// Reading the package format (package_format.h) from a Setup file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>
#include "framework/file.h"
#include "platform/win_types.h"
#include "setup/package_format.h"

namespace setup {

// Position of the first occurrence of the marker in the window, or none.
// An empty window matches at its start (the check that follows then fails).
std::optional<size_t> FindMarker(const uint8_t* window, size_t length, std::string_view marker);

// XOR with kConfigKey, in place; the same call scrambles again.
void UnscrambleConfig(uint8_t* block, size_t length);

// Splits the unscrambled block like strtok on "|": the text ends at the first
// zero byte or at its length, leading separators are skipped and a run of
// separators counts as one, so no token is empty. Tokens come from the ANSI
// code page.
std::vector<plat::WString> SplitConfigTokens(std::string_view text);

// The config block's meaning: token 1 the archive's subdirectory (with its
// own trailing backslash; one character means none), token 2 the password,
// token 3 the archive's file name. Further tokens are ignored.
struct PackageConfig {
  std::optional<plat::WString> subDir;
  std::optional<plat::WString> password;
  std::optional<plat::WString> archiveName;

  static PackageConfig FromTokens(const std::vector<plat::WString>& tokens);
  // The archive's full path: the Setup file itself unless a name is given,
  // else moduleDir + subDir (when longer than one character) + name.
  plat::WString ArchivePath(plat::WStringView setupPath, plat::WStringView moduleDir) const;
};

// Where the marker is: its distance from the end of the file, after the
// window search and the confirming re-read. None when the marker is missing
// or not confirmed. A file shorter than the window is searched whole.
// File read errors propagate as CFileException.
std::optional<int32_t> LocateMarker(CFile& file);

// The trailer in front of the marker, checked against the file: it lies
// inside the file, 0 <= libraryStart <= libraryEnd <= file length, and a
// config block that would be read (ConfigWanted) has a non-negative length
// and lies between the file's start and the trailer. None when unusable.
std::optional<PackageTrailer> ReadTrailer(CFile& file, int32_t markerDistance);

// Reads, unscrambles and splits the config block of a checked trailer; an
// empty config when the trailer says the block is not to be read.
PackageConfig ReadConfig(CFile& file, int32_t markerDistance, const PackageTrailer& trailer);

// The whole package description, for callers that need no steps between
// (the second stage re-reads the package this way).
struct PackageInfo {
  int32_t markerDistance = 0;
  PackageTrailer trailer;
  PackageConfig config;
};
enum class PackageStatus {
  Ok,
  NoMarker,     // marker missing or not confirmed
  BadTrailer,   // trailer fields do not fit the file
  ReadError,    // the file could not be read
};
PackageStatus ReadPackage(CFile& file, PackageInfo* info);

}  // namespace setup
