// Byte-exact extraction through the loaded library from archives of the
// mainstream writers: stored and deflated, empty and multi-chunk entries,
// data descriptors, encryption, split volumes and leading bytes.
#include <gtest/gtest.h>
#include <filesystem>
#include <set>
#include "library_fixture.h"
#include "zip_writers.h"

using namespace upktest;
namespace fs = std::filesystem;

namespace {

const std::vector<ZipInput>& Inputs() {
  static const std::vector<ZipInput> inputs = {
      {"empty.txt", ""},
      {"small.txt", "hello, world\n"},
      {"text.txt", MakeTextLikeData(200000, 11)},
      {"exact.bin", MakeRandomData(2 * 65535, 12)},  // whole chunks, then a read of 0
      {"sub/", ""},
      {"sub/nested.bin", MakeRandomData(70000, 13)},
  };
  return inputs;
}

// Extracts every file input from the archive and compares it.
void ExpectAllFilesExtract(const std::string& archive, const std::string& password = "",
                           uint32_t openFlags = UPK4_OPEN_PLAIN,
                           const std::vector<ZipInput>& inputs = Inputs()) {
  TempDir out;
  const plat::WString pw = WinPath(password);
  ArchiveHandle* h = Upk4().Open(WinPath(archive).c_str(), 0, 0, pw.c_str(), openFlags);
  ASSERT_NE(h, nullptr) << archive;
  for (const ZipInput& in : inputs) {
    if (in.IsDirectory()) continue;
    EXPECT_EQ(Upk4().Unpack(h, WinPath(in.name).c_str(), WinPath(out.path()).c_str(), nullptr, 0), 0)
        << in.name;
    const std::string base = fs::path(in.name).filename().string();
    EXPECT_EQ(ReadFile(out.Path(base)), in.data) << in.name;
  }
  EXPECT_EQ(Upk4().Close(h), 0);
}

enum class Writer { infoZip, infoZipStreamed, python, pythonStreamed, sevenZip, bsdtar };

std::string Make(Writer w, const TempDir& dir, ZipMethod m) {
  switch (w) {
    case Writer::infoZip: return MakeZipInfoZip(dir, "a.zip", Inputs(), m);
    case Writer::infoZipStreamed: return MakeZipInfoZipStreamed(dir, "a.zip", Inputs(), m);
    case Writer::python: return MakeZipPython(dir, "a.zip", Inputs(), m);
    case Writer::pythonStreamed: return MakeZipPython(dir, "a.zip", Inputs(), m, true);
    case Writer::sevenZip: return MakeZip7z(dir, "a.zip", Inputs(), m);
    case Writer::bsdtar: return MakeZipBsdtar(dir, "a.zip", Inputs(), m);
  }
  return {};
}

class Writers : public ::testing::TestWithParam<std::tuple<Writer, ZipMethod>> {};

TEST_P(Writers, EveryFileExtractsByteExact) {
  TempDir dir;
  ExpectAllFilesExtract(Make(std::get<0>(GetParam()), dir, std::get<1>(GetParam())));
}

std::string WriterCaseName(const ::testing::TestParamInfo<Writers::ParamType>& info) {
  static const char* const names[] = {"InfoZip", "InfoZipStreamed", "Python",
                                      "PythonStreamed", "SevenZip", "Bsdtar"};
  return std::string(names[static_cast<int>(std::get<0>(info.param))]) +
         (std::get<1>(info.param) == ZipMethod::stored ? "Stored" : "Deflated");
}

INSTANTIATE_TEST_SUITE_P(
    All, Writers,
    ::testing::Combine(::testing::Values(Writer::infoZip, Writer::infoZipStreamed, Writer::python,
                                         Writer::pythonStreamed, Writer::sevenZip, Writer::bsdtar),
                       ::testing::Values(ZipMethod::stored, ZipMethod::deflated)),
    WriterCaseName);

TEST(Encrypted, BothCheckByteFormsDecryptAndWrongOrMissingPasswordsFail) {
  TempDir dir;
  std::vector<std::string> archives = {
      MakeZipInfoZip(dir, "zip.zip", Inputs(), ZipMethod::deflated, "-P secret"),
      MakeZipInfoZip(dir, "zip0.zip", Inputs(), ZipMethod::stored, "-P secret"),
      MakeZip7z(dir, "7z.zip", Inputs(), ZipMethod::deflated, "secret"),
  };
  // Info-ZIP writing to a pipe sets bit 3: the check byte is then the time's.
  const std::string piped = dir.Path("piped.zip");
  ASSERT_EQ(RunCommand("cd " + ShellQuote(dir.Path("staging-zip.zip")) +
                       " && zip -q -P secret - text.txt small.txt | cat > " + ShellQuote(piped)),
            0);
  archives.push_back(piped);

  std::set<int> descriptorBits;
  for (const std::string& a : archives) {
    for (const ListedEntry& e : ListWithPython(a))
      if (e.size > 0) descriptorBits.insert(e.flags & 9);
    const std::vector<ZipInput> inputs =
        a == piped ? std::vector<ZipInput>{Inputs()[1], Inputs()[2]} : Inputs();
    ExpectAllFilesExtract(a, "secret", UPK4_OPEN_PLAIN, inputs);
    TempDir out;
    EXPECT_EQ(UnpackOne(a, "text.txt", out.path(), "wrong!"), -2) << a;
    EXPECT_EQ(UnpackOne(a, "text.txt", out.path()), -2) << a << ": no password";
  }
  EXPECT_EQ(descriptorBits, (std::set<int>{1, 9})) << "both check-byte forms covered";
}

TEST(SplitVolumes, PatternNamesEveryVolume) {
  for (ZipMethod m : {ZipMethod::stored, ZipMethod::deflated}) {
    TempDir dir;
    const std::vector<ZipInput> inputs = {{"r.bin", MakeRandomData(300000, 21)},
                                          {"t.txt", MakeTextLikeData(150000, 22)}};
    const std::vector<std::string> volumes = MakeSplitZipInfoZip(dir, "data", inputs, m, "64k");
    ASSERT_GE(volumes.size(), 3u);
    const std::string pattern = fs::path(volumes.back()).parent_path().string() + "/data%d.zip";
    ExpectAllFilesExtract(pattern, "", UPK4_OPEN_PATTERN1, inputs);
  }
}

TEST(LeadingBytes, ArchiveAfterOtherDataExtracts) {
  TempDir dir;
  const std::string zip = MakeZipInfoZip(dir, "a.zip", Inputs(), ZipMethod::deflated);
  const std::string sfx = dir.Path("setup.bin");
  WriteFile(sfx, MakeRandomData(40000, 31) + ReadFile(zip));
  ExpectAllFilesExtract(sfx);
}

}  // namespace
