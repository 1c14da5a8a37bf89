// Zstandard and LZMA entries as upkpack writes them: read back whole by the
// upk4 reader and by the peers that read them here (Python's zipfile, 7z
// and bsdtar for LZMA; the zstd tool on the raw frames), encrypted and split
// through the tools, stored where they do not shrink, and the same bytes
// whatever the number of threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "tools_test_util.h"
#include "upk4/archive.h"
#include "upk4/zip_format.h"
#include "zip_writer.h"

namespace {

namespace fs = std::filesystem;
using toolstest::Built;
using toolstest::RunUpkpack;
using upktest::ReadFile;
using upktest::RunCommand;
using upktest::ShellQuote;

struct Source {
  std::string name;
  std::string data;
};

std::vector<Source> Sources() {
  return {{"text.txt", upktest::MakeTextLikeData(200000, 81)},
          {"random.bin", upktest::MakeRandomData(70000, 82)},
          {"dir/", ""},
          {"dir/empty", ""},
          {"dir/tiny.txt", "tiny"},
          {"dir/more.txt", upktest::MakeTextLikeData(3000000, 83)}};
}

std::string Write(const upktest::TempDir& dir, const std::string& name,
                  const std::vector<Source>& sources, const upkpack::ZipWriteOptions& options) {
  std::vector<upkpack::ZipSource> entries;
  for (const Source& s : sources) {
    upkpack::ZipSource e;
    e.name = s.name;
    e.directory = s.name.back() == '/';
    if (!e.directory) {
      e.source = dir.Path("src/" + s.name);
      if (!upktest::FileExists(e.source)) upktest::WriteFile(e.source, s.data);
      e.size = s.data.size();
    }
    entries.push_back(e);
  }
  const std::string out = dir.Path(name);
  upkpack::WriteZip(out, entries, options);
  return out;
}

// Every file entry through the upk4 reader, with its method.
void ExpectReaderReads(const std::string& zip, const std::vector<Source>& sources,
                       uint16_t method, const std::string& password) {
  auto archive = Archive::Open(toolstest::WinPath(zip), ArchiveOptions{});
  ASSERT_EQ(archive->EntryCount(), sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    const Source& s = sources[i];
    const EntryRecord& e = archive->Entry(i);
    SCOPED_TRACE(s.name);
    if (s.name.back() == '/') continue;
    // Random bytes and tiny files do not shrink: stored, whatever the method.
    const bool shrinks = s.name.find(".txt") != std::string::npos && s.data.size() > 100;
    EXPECT_EQ(e.method, shrinks ? method : zip::kMethodStored);
    EXPECT_EQ(e.versionNeeded >= zip::kVersionLzmaZstd, shrinks && method != zip::kMethodDeflated);
    EXPECT_EQ((e.flags & zip::kFlagLzmaEndMarker) != 0, shrinks && method == zip::kMethodLzma);
    auto reader = archive->OpenEntry(static_cast<uint16_t>(i),
                                     password.empty() ? std::nullopt
                                                      : std::optional<std::string_view>(password));
    ASSERT_TRUE(reader);
    std::string data(s.data.size() + 1, '\0');
    data.resize(reader->Read(data.data(), static_cast<uint32_t>(data.size())));
    EXPECT_EQ(reader->Finish(), 1);
    EXPECT_TRUE(data == s.data);
  }
}

TEST(NewerMethodsPacking, EntriesReadBackEncryptedOrNot) {
  const auto sources = Sources();
  for (const std::string method : {"zstd", "lzma", "deflate"}) {
    for (const std::string password : {"", "pw 2"}) {
      SCOPED_TRACE(method + " password=" + password);
      upktest::TempDir dir;
      upkpack::ZipWriteOptions options;
      options.method = method;
      options.password = password;
      // Larger entries wait in files, which go once they are written.
      options.memoryPerEntry = 4096;
      const uint16_t number = method == "zstd"   ? zip::kMethodZstd
                              : method == "lzma" ? zip::kMethodLzma
                                                 : zip::kMethodDeflated;
      ExpectReaderReads(Write(dir, "a.zip", sources, options), sources, number, password);
      // Nothing of the compressed data is left beside the archive.
      for (const std::string& name : toolstest::ListTree(dir.path()))
        EXPECT_EQ(name.find(".spill"), std::string::npos) << name;
    }
  }
}

TEST(NewerMethodsPacking, SameBytesWhateverTheThreadsAndLevelsAreKept) {
  const auto sources = Sources();
  for (const std::string method : {"zstd", "lzma"}) {
    SCOPED_TRACE(method);
    upktest::TempDir dir;
    upkpack::ZipWriteOptions options;
    options.method = method;
    options.fixedTime = 1700000000;
    options.password = "pw";
    options.threads = 1;
    const std::string one = ReadFile(Write(dir, "one.zip", sources, options));
    options.threads = 3;
    const std::string three = ReadFile(Write(dir, "three.zip", sources, options));
    EXPECT_TRUE(one == three);
    // The lowest level reads back the same.
    options.level = method == "zstd" ? -7 : 0;
    options.password.clear();
    const std::string low = Write(dir, "low.zip", sources, options);
    ExpectReaderReads(low, sources, method == "zstd" ? zip::kMethodZstd : zip::kMethodLzma, "");
  }
}

TEST(NewerMethodsPacking, PeersReadTheEntries) {
  const auto sources = Sources();
  upktest::TempDir dir;
  upkpack::ZipWriteOptions options;
  options.method = "lzma";
  const std::string lzma = Write(dir, "lzma.zip", sources, options);
  options.method = "zstd";
  const std::string zstd = Write(dir, "zstd.zip", sources, options);

  // Python's zipfile reads method 14 (and checks each CRC-32).
  const std::string script =
      "import sys, zipfile, os\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    if not i.is_dir():\n"
      "        p = os.path.join(sys.argv[2], i.filename)\n"
      "        os.makedirs(os.path.dirname(p), exist_ok=True)\n"
      "        open(p, 'wb').write(z.read(i))\n";
  upktest::WriteFile(dir.Path("read.py"), script);
  std::string out;
  ASSERT_EQ(RunCommand("python3 " + ShellQuote(dir.Path("read.py")) + " " + ShellQuote(lzma) +
                           " " + ShellQuote(dir.Path("py")) + " 2>&1",
                       &out),
            0)
      << out;
  for (const Source& s : sources)
    if (s.name.back() != '/') {
      EXPECT_TRUE(ReadFile(dir.Path("py/" + s.name)) == s.data) << s.name;
    }

  // 7z and bsdtar test and extract the LZMA entries.
  EXPECT_EQ(RunCommand("7z t " + ShellQuote(lzma) + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
  ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(dir.Path("bsd")) + " && bsdtar -xf " +
                           ShellQuote(lzma) + " -C " + ShellQuote(dir.Path("bsd")) + " 2>&1",
                       &out),
            0)
      << out;
  for (const Source& s : sources)
    if (s.name.back() != '/') {
      EXPECT_TRUE(ReadFile(dir.Path("bsd/" + s.name)) == s.data) << s.name;
    }

  // The zstd tool decodes the frames of the method-93 entries. (Python's
  // zipfile refuses the method: the script takes the frames raw.)
  const std::string frames =
      "import sys, zipfile, os\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    if i.compress_type != 93: continue\n"
      "    with open(sys.argv[1], 'rb') as f:\n"
      "        f.seek(i.header_offset + 26)\n"
      "        n, m = int.from_bytes(f.read(2), 'little'), int.from_bytes(f.read(2), 'little')\n"
      "        f.seek(i.header_offset + 30 + n + m)\n"
      "        p = os.path.join(sys.argv[2], i.filename.replace('/', '_') + '.zst')\n"
      "        open(p, 'wb').write(f.read(i.compress_size))\n"
      "        print(i.filename)\n";
  upktest::WriteFile(dir.Path("frames.py"), frames);
  fs::create_directories(dir.Path("zst"));
  ASSERT_EQ(RunCommand("python3 " + ShellQuote(dir.Path("frames.py")) + " " + ShellQuote(zstd) +
                           " " + ShellQuote(dir.Path("zst")),
                       &out),
            0)
      << out;
  EXPECT_EQ(out, "text.txt\ndir/more.txt\n");
  for (const Source& s : sources) {
    if (out.find(s.name + "\n") == std::string::npos) continue;
    std::string name = s.name;
    for (char& c : name)
      if (c == '/') c = '_';
    std::string decoded;
    ASSERT_EQ(RunCommand("zstd -dc " + ShellQuote(dir.Path("zst/" + name + ".zst")), &decoded), 0);
    EXPECT_TRUE(decoded == s.data) << s.name;
  }
}

// Through the tools, as an author packs and a user's Setup unpacks:
// encrypted, split beside the package (listed with the method's name and
// tested) or inside it (extracted by upk4 through the library's exports).
TEST(NewerMethodsPacking, EncryptedPackagesSplitOrNotReadThroughTheTool) {
  for (const std::string method : {"zstd", "lzma"}) {
    SCOPED_TRACE(method);
    upktest::TempDir dir;
    const auto files = toolstest::MakePayload(dir.Path("payload"));
    fs::create_directories(dir.Path("split"));
    fs::create_directories(dir.Path("inside"));
    const std::string payload = ShellQuote(dir.Path("payload/."));
    const std::string upk4 = ShellQuote(Built("bin/upk4"));
    std::string out;
    ASSERT_EQ(RunUpkpack("-q -o " + ShellQuote(dir.Path("split/Setup")) + " --method " + method +
                             " --password s3cret --archive 'data%d.zip' --split 64k " + payload,
                         &out),
              0)
        << out;
    ASSERT_TRUE(upktest::FileExists(dir.Path("split/data2.zip"))) << "not split";
    const std::string pattern = ShellQuote(dir.Path("split/data%d.zip"));
    ASSERT_EQ(RunCommand(upk4 + " list " + pattern, &out), 0) << out;
    EXPECT_NE(out.find(" " + method + " "), std::string::npos) << out;
    EXPECT_EQ(RunCommand(upk4 + " test " + pattern + " --password s3cret", &out), 0) << out;
    EXPECT_EQ(RunCommand(upk4 + " test " + pattern + " --password wrong", &out), 1) << out;

    ASSERT_EQ(RunUpkpack("-q -o " + ShellQuote(dir.Path("inside/Setup")) + " --method " + method +
                             " --password s3cret " + payload,
                         &out),
              0)
        << out;
    ASSERT_EQ(RunCommand(upk4 + " extract " + ShellQuote(dir.Path("inside/Setup")) + " " +
                             ShellQuote(dir.Path("x") + "/") + " --password s3cret -q 2>&1",
                         &out),
              0)
        << out;
    for (const auto& [name, data] : files) EXPECT_TRUE(ReadFile(dir.Path("x/" + name)) == data) << name;
  }
}

TEST(NewerMethodsPacking, LevelsOutsideTheMethodsScaleAreRefused) {
  upktest::TempDir dir;
  for (const std::string arguments :
       {"--method zstd --level 23", "--method lzma --level 10", "--method deflate --level 0",
        "--method bzip2", "--level x"}) {
    SCOPED_TRACE(arguments);
    std::string out;
    EXPECT_EQ(RunUpkpack("-q -o " + ShellQuote(dir.Path("p")) + " " + arguments, &out), 2) << out;
  }
}

}  // namespace
