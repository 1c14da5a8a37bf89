// upk4.exe extracting whole archives on Windows, where written files are
// closed on threads of their own: with one worker and with four, every file
// has the content, attributes and time its entry gives, the last of two
// entries of one name wins, and a damaged entry fails alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crafted_zip.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "test_support.h"
#include "windows_test_util.h"

using plat::WString;
using wintest::TempDir;

namespace {

struct Extracted {
  uint32_t code = 0;
  std::vector<std::string> lines;  // per entry: content, attributes, time
};

TEST(WholeArchiveOnWindows, FilesClosedAsideMatchTheirEntriesWithOneWorkerOrFour) {
  TempDir dir;
  upktest::CraftedZip zip;
  const uint32_t attributes[] = {plat::FILE_ATTRIBUTE_ARCHIVE,
                                 plat::FILE_ATTRIBUTE_READONLY | plat::FILE_ATTRIBUTE_ARCHIVE,
                                 plat::FILE_ATTRIBUTE_HIDDEN, 0};
  for (int i = 0; i < 48; ++i) {
    const std::string data = upktest::MakeTextLikeData(i == 7 ? 400000 : 300 + 97 * i, i);
    upktest::CraftedEntry e =
        upktest::DeflatedEntry("d" + std::to_string(i % 3) + "/f" + std::to_string(i), data);
    e.externalAttributes = attributes[i % 4];
    e.dosDate = static_cast<uint16_t>(0x5021 + i);  // 2020-01-01 and the days after
    if (i == 11) e.crc ^= 1;                          // damaged: fails alone
    zip.entries.push_back(e);
  }
  // Two entries of one file, names differing in case: the later one wins.
  zip.entries.push_back(upktest::StoredEntry("d1/Same.txt", "first"));
  zip.entries.push_back(upktest::StoredEntry("D1/same.TXT", "second"));
  const WString archive = dir.Path("a.zip");
  ASSERT_TRUE(wintest::WriteBytes(archive, zip.Build()));

  std::vector<Extracted> runs;
  for (int workers : {1, 4}) {
    const WString dest = dir.Path(("out" + std::to_string(workers)).c_str());
    Extracted run;
    ASSERT_TRUE(plat::RunProcessAndWait(
        plat::QuoteArgument(wintest::ProgramDirectory() + u"upk4.exe") + u" extract " +
            plat::QuoteArgument(archive) + u" " + plat::QuoteArgument(dest + u"\\") + u" -q -j " +
            plat::W(std::to_string(workers)),
        &run.code));
    for (size_t i = 0; i < zip.entries.size(); ++i) {
      const upktest::CraftedEntry& e = zip.entries[i];
      WString name = plat::W(e.name);
      for (char16_t& c : name) c = c == u'/' ? u'\\' : c;
      const std::optional<plat::FoundFile> found = plat::FindFile(dest + u"\\" + name);
      // The damaged entry's file keeps the time it was made at, which two
      // runs need not share: its time is left out.
      const std::string time = i == 11 ? "" : " time=" + std::to_string(found ? found->lastWrite : 0);
      run.lines.push_back(e.name + (found ? " attributes=" + std::to_string(found->attributes) + time +
                                                " data=" + wintest::ReadBytes(dest + u"\\" + name)
                                          : " missing"));
    }
    runs.push_back(run);
  }
  EXPECT_EQ(runs[0].code, 4u);  // one damaged entry
  EXPECT_EQ(runs[1].code, runs[0].code);
  EXPECT_EQ(runs[1].lines, runs[0].lines);

  const Extracted& one = runs[0];
  EXPECT_NE(one.lines[11].find(" data="), std::string::npos);  // made, then failed its check
  EXPECT_NE(one.lines.back().find("data=second"), std::string::npos);
  for (int i = 0; i < 48; ++i) {
    if (i == 11) continue;
    SCOPED_TRACE(one.lines[i].substr(0, 80));
    const std::string& line = one.lines[i];
    const uint32_t got = static_cast<uint32_t>(std::stoul(line.substr(line.find("attributes=") + 11)));
    // What the system makes of the attributes when they are set by name,
    // as on a file closed in place.
    const WString reference = dir.Path("reference");
    ASSERT_TRUE(wintest::WriteBytes(reference, "x"));
    ASSERT_TRUE(plat::SetFileAttributes(reference, attributes[i % 4]));
    EXPECT_EQ(got, plat::FindFile(reference)->attributes);
    plat::SetFileAttributes(reference, plat::FILE_ATTRIBUTE_NORMAL);
    plat::DeleteFile(reference);
    // The entry's time, as the extraction sets it.
    const plat::CalendarTime time =
        plat::DosDateTimeToLocalTime(zip.entries[i].dosDate, zip.entries[i].dosTime);
    EXPECT_NE(line.find(" time=" + std::to_string(time) + " "), std::string::npos);
  }
}

}  // namespace
