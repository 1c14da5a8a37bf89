#include <gtest/gtest.h>

#include "pack_error.h"
#include "pack_options.h"
#include "payload_list.h"
#include "test_support.h"

namespace {

using upkpack::PackError;
using upkpack::PackOptions;
using upkpack::ParseCommandLine;

TEST(PackOptions, ParsesTheWholeCommandLine) {
  PackOptions o;
  ASSERT_EQ(ParseCommandLine({"-o", "out", "--password=pw", "--store", "--archive", "d%d.zip",
                              "--subdir", "s", "--split", "64k", "--open-value", "4294967295",
                              "--init-value", "-7", "file", "--", "-dash"},
                             o),
            upkpack::ParseOutcome::Run);
  EXPECT_EQ(o.output, "out");
  EXPECT_EQ(o.password, "pw");
  EXPECT_TRUE(o.store);
  EXPECT_EQ(o.archiveName.value_or(""), "d%d.zip");
  EXPECT_EQ(o.splitSize, 65536u);
  EXPECT_EQ(o.openValue, -1);
  EXPECT_EQ(o.initValue, -7);
  ASSERT_EQ(o.payload.size(), 2u);
  EXPECT_EQ(o.payload[1], "-dash");
}

TEST(PackOptions, RefusesMalformedCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {"file"},                                         // no output
      {"-o", "x", "--subdir", "s"},                     // subdir without archive
      {"-o", "x", "--split", "1M"},                     // split without archive
      {"-o", "x", "--archive", "a", "--split", "0"},    // zero size
      {"-o", "x", "--archive", "a", "--split", "10q"},  // unknown unit
      {"-o", "x", "--open-value", "12x"},
      {"-o", "x", "--init-value", "99999999999"},
      {"-o", "x", "--password", ""},
      {"-o", "x", "--store=yes"},
      {"-o", "x", "--bogus"},
      {"-o"},
  };
  for (const auto& args : bad) {
    PackOptions o;
    EXPECT_THROW(ParseCommandLine(args, o), PackError) << args.back();
  }
  PackOptions o;
  EXPECT_EQ(ParseCommandLine({"--help"}, o), upkpack::ParseOutcome::Help);
}

TEST(PackOptions, DefaultsFollowTheInstallLayout) {
  PackOptions o;
  o.upk2 = "mine.so";
  upkpack::ApplyDefaultInputs(o, "/opt/upk/bin");
  EXPECT_EQ(o.setup.lexically_normal(), "/opt/upk/bin/Setup");
  EXPECT_EQ(o.upk4.lexically_normal(), "/opt/upk/lib/libupk4.so");
  EXPECT_EQ(o.upk2, "mine.so");
  EXPECT_EQ(o.qxsetup.lexically_normal(), "/opt/upk/lib/upk/QXSetup.exe");
}

TEST(PackOptions, SourceDateEpochIsPlainSecondsOrRefused) {
  EXPECT_FALSE(upkpack::ParseSourceDateEpoch(nullptr));
  EXPECT_EQ(upkpack::ParseSourceDateEpoch("0").value_or(-1), 0);
  EXPECT_EQ(upkpack::ParseSourceDateEpoch("1700000000").value_or(-1), 1700000000);
  for (const char* bad : {"", "-1", "12x", " 5", "1e9", "0x10", "99999999999999999999"}) {
    EXPECT_THROW(upkpack::ParseSourceDateEpoch(bad), PackError) << '"' << bad << '"';
  }
}

TEST(PayloadList, NamesTreesRelativelyAndRefusesCaseCollisions) {
  upktest::TempDir dir;
  upktest::WriteFile(dir.Path("tree/a.txt"), "a");
  upktest::WriteFile(dir.Path("tree/sub/b.txt"), "bb");
  upktest::WriteFile(dir.Path("single.bin"), "xyz");

  auto names = [](const std::vector<upkpack::PayloadItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
      out.push_back(std::string(item.name.begin(), item.name.end()));
    }
    return out;
  };
  const auto items = upkpack::CollectPayload({dir.Path("tree/"), dir.Path("single.bin")});
  EXPECT_EQ(names(items), (std::vector<std::string>{"tree/", "tree/a.txt", "tree/sub/",
                                                    "tree/sub/b.txt", "single.bin"}));
  EXPECT_EQ(items[3].size, 2u);
  EXPECT_EQ(names(upkpack::CollectPayload({dir.Path("tree/.")})),
            (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));

  EXPECT_THROW(upkpack::CollectPayload({dir.Path("missing")}), PackError);
  EXPECT_THROW(upkpack::CheckDistinctNames({u"A11", u"QXSetup.exe", u"a11"}), PackError);
  EXPECT_NO_THROW(upkpack::CheckDistinctNames({u"A11", u"QXSetup.exe", u"a12"}));
}

}  // namespace
