// The sample setup program as Setup starts it: no arguments, the user's
// arguments in "qx.tmp" beside it, its exit code as Setup's.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/code_page.h"
#include "platform/profile.h"
#include "sample_setup.h"
#include "tools_test_util.h"

namespace {

namespace fs = std::filesystem;
using upktest::ReadFile;
using upktest::RunCommand;
using upktest::ShellQuote;

// QXSetup.exe copied into its own directory with a "qx.tmp" holding the
// command string (none when null); runs it from there.
int RunSample(const upktest::TempDir& dir, const char16_t* commandString, std::string* output) {
  fs::create_directories(dir.Path("run"));
  fs::copy_file(toolstest::Built("lib/upk/QXSetup.exe"), dir.Path("run/QXSetup.exe"),
                fs::copy_options::overwrite_existing);
  if (commandString != nullptr) {
    plat::WriteProfileString(u"PARA", u"CommandString", commandString,
                             toolstest::WinPath(dir.Path("run/qx.tmp")));
  }
  return RunCommand("cd " + ShellQuote(dir.Path("run")) + " && ./QXSetup.exe", output);
}

TEST(SampleSetup, ReportsWhatItSawAndExitsWithTheChosenCode) {
  upktest::TempDir dir;
  upktest::WriteFile(dir.Path("run/stvar.ini"), "[x]\n");
  const std::u16string command =
      u"/REPORT=" + plat::Utf8ToUtf16(dir.Path("report.txt")) +
      u" \"two words\" /exitcode=42 \"say \\\"hi\\\"\" /writestvar=written";
  std::string out;
  EXPECT_EQ(RunSample(dir, command.c_str(), &out), 42);
  EXPECT_NE(out.find("QXSetup: installing with two words"), std::string::npos) << out;

  const std::string report = ReadFile(dir.Path("report.txt"));
  const std::string runDir = fs::canonical(dir.Path("run")).string();
  EXPECT_EQ(report,
            "argument=/REPORT=" + dir.Path("report.txt") + "\n"
            "argument=two words\n"
            "argument=/exitcode=42\n"
            "argument=say \"hi\"\n"
            "argument=/writestvar=written\n"
            "directory=" + runDir + "\n"
            "module=" + runDir + "/\n"
            "qx.tmp=present\n"
            "commandstring=" + std::string(command.begin(), command.end()) + "\n"
            "stvar.ini=present\n"
            "exitcode=42\n");
  EXPECT_EQ(ReadFile(dir.Path("run/stvar.ini")), "written");
}

TEST(SampleSetup, RunsWithoutQxTmp) {
  upktest::TempDir dir;
  std::string out;
  EXPECT_EQ(RunSample(dir, nullptr, &out), 0);
  EXPECT_NE(out.find("QXSetup: installing from"), std::string::npos) << out;
}

TEST(SampleSetup, SwitchesAndWork) {
  const qxsetup::Options o =
      qxsetup::ParseArguments({u"/ExitCode=3010", u"/exitcode=x", u"/report=", u"plain"});
  EXPECT_EQ(o.exitCode.value_or(0), 3010);
  EXPECT_EQ(o.reportPath.value_or(u"?"), u"");
  EXPECT_EQ(o.work, (std::vector<std::u16string>{u"/exitcode=x", u"plain"}));
  EXPECT_EQ(o.arguments.size(), 4u);
}

}  // namespace
