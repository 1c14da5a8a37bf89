#include "package_builder.h"

#include <cstdio>
#include <random>

#include "config_block.h"
#include "entry_names.h"
#include "framework/safe_format.h"
#include "pack_error.h"
#include "package_check.h"
#include "package_writer.h"
#include "payload_extractor.h"
#include "payload_list.h"
#include "platform/code_page.h"
#include "progress_line.h"
#include "setup/package_trailer.h"
#include "volume_splitter.h"
#include "windows_target.h"
#include "zip_writer.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {

void RequireFile(const fs::path& path, const char* what) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    throw PackError(std::string(what) + " not found: " + path.string());
  }
}

uint64_t FileSize(const fs::path& path) {
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec) throw PackError("cannot read " + path.string() + ": " + ec.message());
  return size;
}

// A private directory beside the output; removed with everything in it when
// the build ends, however it ends.
class StagingDirectory {
 public:
  explicit StagingDirectory(const fs::path& parent) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate = parent / (".upkpack-" + std::to_string(random()));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        m_path = candidate;
        return;
      }
    }
    throw PackError("cannot create a working directory in " + parent.string());
  }
  ~StagingDirectory() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  const fs::path& path() const { return m_path; }

 private:
  fs::path m_path;
};

// Files moved into place so far; removed again unless the build commits.
class Installation {
 public:
  ~Installation() {
    if (m_committed) return;
    for (const fs::path& path : m_moved) {
      std::error_code ec;
      fs::remove(path, ec);
    }
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
      std::error_code ec;
      fs::remove(*it, ec);  // only when still empty
    }
  }
  void CreateDirectories(const fs::path& directory) {
    std::vector<fs::path> missing;
    for (fs::path p = directory; !p.empty() && !fs::exists(p); p = p.parent_path()) {
      missing.push_back(p);
      if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      std::error_code ec;
      if (!fs::create_directory(*it, ec) && ec) {
        throw PackError("cannot create " + it->string() + ": " + ec.message());
      }
      m_created.push_back(*it);
    }
  }
  void Move(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) throw PackError("cannot write " + to.string() + ": " + ec.message());
    m_moved.push_back(to);
  }
  void Commit() { m_committed = true; }

 private:
  std::vector<fs::path> m_moved;
  std::vector<fs::path> m_created;
  bool m_committed = false;
};

fs::path NativeSubdir(const plat::WString& token) {
  if (token.size() <= 1) return {};
  fs::path dir;
  plat::WString part;
  for (char16_t c : token) {
    if (c == u'\\') {
      dir /= plat::Utf16ToUtf8(part);
      part.clear();
    } else {
      part += c;
    }
  }
  return dir;
}

struct EntryPlan {
  std::vector<ZipSource> sources;
  std::vector<ExpectedEntry> expected;
};

EntryPlan PlanEntries(const PackOptions& options) {
  EntryPlan plan;
  std::vector<plat::WString> names;
  auto add = [&](const fs::path& source, const plat::WString& name, bool directory) {
    ZipSource zip;
    zip.source = source;
    const ArchiveName archiveName = ToArchiveName(name);
    zip.name = archiveName.bytes;
    zip.utf8Name = archiveName.utf8;
    zip.directory = directory;
    zip.size = directory ? 0 : FileSize(source);
    ExpectedEntry entry;
    entry.name = FromArchiveName(archiveName);
    for (char16_t& c : entry.name) {
      if (c == u'/') c = u'\\';
    }
    entry.directory = directory;
    entry.size = zip.size;
    plan.sources.push_back(std::move(zip));
    plan.expected.push_back(std::move(entry));
    names.push_back(name);
  };
  add(options.upk2, upk2::kSecondStageEntry, false);
  add(options.qxsetup, upk2::kSetupProgramName, false);
  const bool forWindows = !options.target.empty();
  for (const PayloadItem& item : CollectPayload(options.payload, options.dereference)) {
    if (upk2::IsReservedEntryName(item.name)) {
      throw PackError("the payload name \"" + plat::Utf16ToUtf8(item.name) +
                      "\" would replace a file that Setup keeps in its temporary directory");
    }
    if (forWindows) {
      CheckWindowsPayloadName(item.name);
      const std::string warning = LongPathWarning(item.name, item.directory);
      if (!warning.empty()) std::fprintf(stderr, "upkpack: warning: %s\n", warning.c_str());
    }
    add(item.source, item.name, item.directory);
  }
  CheckDistinctNames(names);
  return plan;
}

}  // namespace

BuildResult BuildPackage(const PackOptions& options, ProgressLine& progress) {
  RequireFile(options.setup, "Setup program");
  RequireFile(options.upk4, "upk4 library");
  RequireFile(options.upk2, "second stage");
  RequireFile(options.qxsetup, "setup program");
  CheckPassword(options.password);
  const ArchivePlacement placement =
      PlaceArchive(options.archiveName, options.subdir, options.splitSize != 0);
  const EntryPlan plan = PlanEntries(options);

  const fs::path output = fs::absolute(options.output).lexically_normal();
  if (!output.has_filename()) throw PackError("the output must name a file: " + output.string());
  const fs::path outDir = output.parent_path();
  {
    std::error_code ec;
    if (!fs::is_directory(outDir, ec)) {
      throw PackError("the output's directory does not exist: " + outDir.string());
    }
    if (fs::is_directory(output, ec)) throw PackError("the output is a directory: " + output.string());
  }

  StagingDirectory staging(outDir);
  const fs::path zipPath = staging.path() / ".archive.part";
  ZipWriteOptions zipOptions;
  zipOptions.store = options.store;
  zipOptions.method = options.method;
  zipOptions.level = options.level;
  zipOptions.threads = options.threads;
  zipOptions.password = options.password;
  zipOptions.zip64 = options.zip64;
  zipOptions.fixedTime = options.sourceDateEpoch;
  zipOptions.progress = [&progress](uint64_t done, uint64_t total) {
    progress.Update("packing", done, total);
  };
  WriteZip(zipPath, plan.sources, zipOptions);

  // Stage the archive where Setup will look for it, relative to the package.
  const fs::path subdir = NativeSubdir(placement.subdirToken);
  std::vector<fs::path> stagedArchives;
  if (placement.beside) {
    const fs::path archiveDir = staging.path() / subdir;
    std::error_code ec;
    fs::create_directories(archiveDir, ec);
    if (ec) throw PackError("cannot create " + archiveDir.string() + ": " + ec.message());
    const auto volumeName = [&placement](uint32_t number) {
      return plat::Utf16ToUtf8(placement.split ? FormatIntegers(placement.nameToken, {number})
                                               : placement.nameToken);
    };
    if (options.splitSize != 0) {
      stagedArchives = SplitArchive(zipPath, options.splitSize, archiveDir, volumeName);
    } else {
      stagedArchives.push_back(archiveDir / volumeName(1));
      fs::rename(zipPath, stagedArchives.back(), ec);
      if (ec) {
        throw PackError("cannot write " + stagedArchives.back().string() + ": " + ec.message());
      }
    }
  }

  PackageParts parts;
  parts.setup = options.setup;
  parts.upk4 = options.upk4;
  if (!placement.beside) parts.archive = zipPath;
  parts.configText = BuildConfigText(placement, options.password);
  parts.packageFlags = placement.split ? kPackageFlagsPattern : kPackageFlagsPlain;
  parts.openValue = options.openValue;
  parts.initValue = options.initValue;
  const fs::path stagedPackage = staging.path() / output.filename();
  for (const fs::path& archive : stagedArchives) {
    if (archive == stagedPackage) throw PackError("the archive would replace the package");
  }

  ExpectedPackage expected;
  expected.trailer = WritePackage(stagedPackage, parts);
  expected.configTokens = setup::SplitConfigTokens(parts.configText);
  expected.entries = plan.expected;
  CheckPackage(stagedPackage, expected, [&progress](uint64_t done, uint64_t total) {
    progress.Update("testing", done, total);
  });
  progress.Finish();

  std::error_code ec;
  fs::permissions(stagedPackage,
                  fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  if (ec) throw PackError("cannot make the package executable: " + ec.message());

  BuildResult result;
  Installation install;
  if (!stagedArchives.empty()) install.CreateDirectories(outDir / subdir);
  for (const fs::path& archive : stagedArchives) {
    const fs::path target = outDir / archive.lexically_relative(staging.path());
    install.Move(archive, target);
    result.archives.push_back(target);
  }
  install.Move(stagedPackage, output);
  install.Commit();

  result.package = output;
  result.entries = plan.sources.size();
  result.packageSize = FileSize(output);
  result.unchecked = expected.trailer.reserved == 0;
  return result;
}

}  // namespace upkpack
