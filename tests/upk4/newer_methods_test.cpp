// Zstandard and LZMA entries through the reader: streams from the
// libraries and from Python's zipfile decode whole, however they are read;
// damaged and crafted streams end with the bad-archive error (and exit code
// 4 from upk4 extract), never with wrong data, a hang or unbounded memory.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "newer_streams.h"
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

struct Outcome {
  bool ok = false;
  std::string data;
  std::string detail;  // the error's detail when not ok
  int32_t cause = 0;
};

// Reads entry 0 in pieces of piece bytes and gives the verdict.
Outcome ReadEntry0(const std::string& archiveBytes, uint32_t piece = 65535,
                   const std::string& password = "") {
  Outcome outcome;
  MemoryStorage storage;
  try {
    auto archive = OpenInMemory(storage, archiveBytes);
    auto reader = archive->OpenEntry(
        0, password.empty() ? std::nullopt : std::optional<std::string_view>(password));
    if (!reader) return outcome;
    std::string buffer(piece, '\0');
    uint32_t n = 0;
    do {
      n = reader->Read(buffer.data(), piece);
      outcome.data.append(buffer.data(), n);
    } while (n == piece);
    outcome.ok = reader->Finish() == 1;
    reader->CheckDescriptor();
  } catch (const CZipException& e) {
    outcome.ok = false;
    outcome.detail = e.m_strDetail;
    outcome.cause = e.m_iCause;
  }
  return outcome;
}

std::string Archive1(const CraftedEntry& entry) {
  CraftedZip zip;
  zip.entries.push_back(entry);
  return zip.Build();
}

const std::string& Text() {
  static const std::string text = MakeTextLikeData(300000, 71);
  return text;
}

}  // namespace

TEST(NewerMethodsTest, StreamsDecodeWholeHoweverTheyAreRead) {
  const std::string& text = Text();
  const std::string half = text.substr(0, text.size() / 2);
  const std::string rest = text.substr(text.size() / 2);
  const uint16_t eos = zip::kFlagLzmaEndMarker;
  struct Case {
    const char* name;
    std::string stream;
    uint16_t method;
    std::string plain;
    uint16_t flags;
  } cases[] = {
      {"zstd, one frame", ZstdFrame(text, 19), zip::kMethodZstd, text, 0},
      {"zstd, two frames and skippable frames around them",
       SkippableFrame("x") + ZstdFrame(half) + SkippableFrame("") + ZstdFrame(rest) +
           SkippableFrame(std::string(100, 's')),
       zip::kMethodZstd, text, 0},
      {"zstd, window of 8 MiB", ZstdRawFrame("abc", 23), zip::kMethodZstd, "abc", 0},
      {"zstd, empty entry of no frame", "", zip::kMethodZstd, "", 0},
      {"zstd, empty entry of an empty frame", ZstdFrame(""), zip::kMethodZstd, "", 0},
      {"lzma with end marker", PkwareLzma(text, true), zip::kMethodLzma, text, eos},
      {"lzma without end marker", PkwareLzma(text, false), zip::kMethodLzma, text, 0},
      {"lzma, dictionary of 8 MiB", PkwareLzma(text, true, 8u << 20), zip::kMethodLzma, text, eos},
      {"lzma, empty entry", PkwareLzma("", true), zip::kMethodLzma, "", eos},
      {"lzma, empty entry without end marker", PkwareLzma("", false), zip::kMethodLzma, "", 0},
  };
  for (const Case& c : cases) {
    const CraftedEntry entry = NewerEntry("a", c.method, c.stream, c.plain, c.flags);
    for (uint32_t piece : {1u, 4096u, 65535u, 1u << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome outcome = ReadEntry0(Archive1(entry), piece);
      EXPECT_TRUE(outcome.ok) << outcome.detail;
      EXPECT_TRUE(outcome.data == c.plain);
    }
  }
}

TEST(NewerMethodsTest, DamagedAndCraftedStreamsAreBadArchives) {
  const std::string& text = Text();
  const std::string frame = ZstdFrame(text);
  const std::string lzma = PkwareLzma(text, true);
  auto zstd = [&](std::string stream) { return NewerEntry("a", zip::kMethodZstd, stream, text); };
  auto lz = [&](std::string stream, uint16_t flags = zip::kFlagLzmaEndMarker) {
    return NewerEntry("a", zip::kMethodLzma, stream, text, flags);
  };
  auto flipped = [](std::string s, size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x10);
    return s;
  };
  auto withDictionary = [&](uint32_t size) {
    std::string s = lzma;
    for (int i = 0; i < 4; ++i) s[5 + i] = static_cast<char>(size >> (8 * i));
    return s;
  };
  auto sized = [](CraftedEntry e, uint64_t size) {
    e.uncompressedSize = size;
    return e;
  };
  struct Case {
    const char* name;
    CraftedEntry entry;
    const char* detail;  // a part of the error's detail
  } cases[] = {
      {"zstd cut short", zstd(frame.substr(0, frame.size() - 7)), "ends early"},
      {"zstd cut inside its header", zstd(frame.substr(0, 5)), "ends early"},
      {"zstd with a flipped bit", zstd(flipped(frame, frame.size() / 2)), ""},
      {"zstd window of 16 MiB", NewerEntry("a", zip::kMethodZstd, ZstdRawFrame("abc", 24), "abc"),
       "above the 8 MiB limit"},
      {"zstd with bytes after its frame", zstd(frame + "not a frame at all"), "Zstandard data"},
      {"zstd of more than the entry's size", sized(zstd(frame), text.size() - 1),
       "more data than the entry's size"},
      {"zstd of less than the entry's size", sized(zstd(frame), text.size() + 1),
       "before the entry's size"},
      {"zstd that is no frame", zstd(std::string(64, 'z')), "Zstandard data"},
      {"lzma cut short", lz(lzma.substr(0, lzma.size() - 9)), "ends early"},
      {"lzma without its end marker though flagged", lz(PkwareLzma(text, false)), ""},
      {"lzma end marker though not flagged", lz(lzma, 0), ""},
      {"lzma with a flipped bit", lz(flipped(lzma, lzma.size() / 2)), ""},
      {"lzma header of 5 bytes", lz(lzma.substr(0, 5)), "LZMA header cut short"},
      {"lzma properties of 4 bytes", lz(std::string("\x05\x04\x04\x00", 4) + lzma.substr(4)),
       "LZMA properties of 4 bytes"},
      {"lzma with lc + lp above 4", lz(lzma.substr(0, 4) + '\x0D' + lzma.substr(5)),
       "properties that liblzma refuses"},
      {"lzma dictionary of 8 MiB and 1 byte", lz(withDictionary((8u << 20) + 1)),
       "above the 8 MiB limit"},
      {"lzma dictionary of 4 GiB - 1", lz(withDictionary(0xFFFFFFFF)), "above the 8 MiB limit"},
      {"lzma of more than the entry's size", sized(lz(lzma), text.size() - 1),
       "more data than the entry's size"},
      {"lzma without end marker, of less than the entry's size",
       sized(lz(PkwareLzma(text, false), 0), text.size() + 100), ""},
      {"method 12 (bzip2)", NewerEntry("a", 12, frame, text), "not one this reader decodes"},
  };
  for (const Case& c : cases) {
    for (uint32_t piece : {1u, 65535u}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome outcome = ReadEntry0(Archive1(c.entry), piece);
      EXPECT_FALSE(outcome.ok);
      EXPECT_NE(outcome.cause, 0) << "no error raised";
      EXPECT_NE(outcome.detail.find(c.detail), std::string::npos) << outcome.detail;
    }
  }
  // The bound itself is allowed.
  EXPECT_TRUE(ReadEntry0(Archive1(lz(withDictionary(8u << 20)))).ok);
}

TEST(NewerMethodsTest, PythonZipfileLzmaEntriesDecode) {
  // (Encrypted entries of the newer methods come from upkpack: see the
  // packing tests.)
  TempDir dir;
  const std::vector<ZipInput> inputs = {{"text.txt", Text()},
                                        {"random.bin", MakeRandomData(50000, 72)},
                                        {"empty", ""}};
  const std::string archive = MakeZipPython(dir, "py-lzma.zip", inputs, ZipMethod::lzma);
  auto opened = OpenArchive(archive);
  ASSERT_EQ(opened->EntryCount(), inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(inputs[i].name);
    if (!inputs[i].data.empty()) {
      EXPECT_EQ(opened->Entry(i).method, zip::kMethodLzma);
    }
    auto reader = opened->OpenEntry(static_cast<uint16_t>(i), std::nullopt);
    ASSERT_TRUE(reader);
    std::string data(inputs[i].data.size() + 10, '\0');
    const uint32_t n = reader->Read(data.data(), static_cast<uint32_t>(data.size()));
    data.resize(n);
    EXPECT_EQ(reader->Finish(), 1);
    EXPECT_TRUE(data == inputs[i].data);
  }
}

TEST(NewerMethodsTest, ExtractToolGivesExitCode4ForDamage) {
  if (!FileExists(BuiltProgram("upk4"))) GTEST_SKIP() << "the upk4 tool is not built";
  TempDir dir;
  const std::string& text = Text();
  const std::string frame = ZstdFrame(text);
  struct Case {
    const char* name;
    CraftedEntry entry;
    int exitCode;
  } cases[] = {
      {"good zstd", NewerEntry("a", zip::kMethodZstd, frame, text), 0},
      {"good lzma", NewerEntry("a", zip::kMethodLzma, PkwareLzma(text, true), text,
                               zip::kFlagLzmaEndMarker), 0},
      {"zstd cut short", NewerEntry("a", zip::kMethodZstd, frame.substr(0, 100), text), 4},
      {"zstd window too large", NewerEntry("a", zip::kMethodZstd, ZstdRawFrame("x", 27), "x"), 4},
      {"lzma bad properties",
       NewerEntry("a", zip::kMethodLzma, std::string("\x05\x04\x05\x00\xff", 5) + "rest", text), 4},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Path("case" + std::to_string(++n) + ".zip");
    WriteFile(path, Archive1(c.entry));
    const std::string out = dir.Path("out" + std::to_string(n));
    std::string output;
    const int rc = RunCommand(ShellQuote(BuiltProgram("upk4")) + " extract " + ShellQuote(path) +
                                  " a " + ShellQuote(out) + " 2>&1",
                              &output);
    EXPECT_EQ(rc, c.exitCode) << output;
    if (c.exitCode == 0) {
      EXPECT_TRUE(ReadFile(out + "/a") == text);
    }
  }
}
