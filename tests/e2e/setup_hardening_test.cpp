// Setup as an attacker would try it: many runs at once on one temporary
// path, a setup program that outlives its Setup, a full disk, hostile names
// in the payload, other users' links in the shared temporary path.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "e2e_harness.h"
#include "platform/dir_tree.h"
#include "platform/last_error.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;
using upktest::ShellQuote;

namespace {

class SetupHardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (upktest::BuildDir().empty()) GTEST_SKIP() << "UPK_BUILD_DIR is not set";
  }
  // Every name left in the system temporary path.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(h.SysTmp())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Waits up to the given seconds for the condition.
  template <class Condition>
  static bool WaitFor(Condition condition, int seconds = 10) {
    for (int i = 0; i < seconds * 20; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
  }
  e2e::Harness h;
};

// Twenty runs started together on one temporary path, three times over:
// each gets a directory of its own, its own program's exit code, and none
// sweeps or rewrites what another has loaded.
TEST_F(SetupHardeningTest, TwentyRunsAtOnceEachKeepTheirOwnDirectoryAndExitCode) {
  h.Build("");
  constexpr int kRuns = 20;
  for (int round = 0; round < 3; ++round) {
    const std::string results = h.Root("results" + std::to_string(round));
    const std::string cmd =
        "cd " + ShellQuote(h.Pkg()) + " && for i in $(seq 1 " + std::to_string(kRuns) +
        "); do (env TMPDIR=" + ShellQuote(h.SysTmp()) +
        " UPK_RESTART_COMMAND=true ./Setup /exitcode=$((i + 100 * " + std::to_string(round % 2) +
        ")) >/dev/null 2>&1; echo \"$i $?\" >>" + ShellQuote(results) + ") & done; wait";
    ASSERT_EQ(upktest::RunCommand(cmd), 0);
    std::istringstream in(upktest::ReadFile(results));
    std::map<int, int> codes;
    int run = 0, code = 0;
    while (in >> run >> code) codes[run] = code;
    ASSERT_EQ(codes.size(), static_cast<size_t>(kRuns)) << "round " << round;
    for (const auto& [i, got] : codes)
      EXPECT_EQ(got, i + 100 * (round % 2)) << "round " << round << ": " << h.Log();
    EXPECT_TRUE(Leftovers().empty()) << "round " << round << ": " << Leftovers().front();
  }
}

// One run is held for 15 seconds at the step where its new directory gets
// its name (strace delays the rename on entry or on return), and a second
// run starts and ends meanwhile: each keeps its own directory and exit code,
// the held one's directory is never swept, and nothing is left behind.
TEST_F(SetupHardeningTest, RunHeldWhileItsDirectoryIsNamedLosesNothingToAnother) {
  if (upktest::RunCommand("strace -qq -o /dev/null true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "strace cannot trace here";
  struct Hold {
    const char* step;
    const char* inject;
    const char* heldName;     // what the held run shows in the temporary path
    const char* secondsName;  // the second run's directory
  };
  const Hold holds[] = {
      {"made and locked, not yet named", "delay_enter", ".SetupTemp-", "SetupTemp0"},
      {"named and locked, nothing copied", "delay_exit", "SetupTemp0", "SetupTemp1"},
  };
  h.Build("");
  for (const Hold& hold : holds) {
    const std::string heldCode = h.Root(std::string("held-code-") + hold.inject);
    const std::string secondReport = h.Root(std::string("second-") + hold.inject);
    ASSERT_EQ(upktest::RunCommand(
                  "cd " + ShellQuote(h.Pkg()) + " && (env TMPDIR=" + ShellQuote(h.SysTmp()) +
                  // LeakSanitizer cannot check a process that a tracer holds.
                  " UPK_RESTART_COMMAND=true ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                  "detect_leaks=0 strace -qq -o /dev/null -e trace=renameat2 -e"
                  " inject=renameat2:" + hold.inject + "=15s:when=1 ./Setup /exitcode=11"
                  // Written aside and renamed, so that the code is whole once
                  // the name appears.
                  " >/dev/null 2>&1; echo $? >" + ShellQuote(heldCode + ".part") + " && mv " +
                  ShellQuote(heldCode + ".part") + " " + ShellQuote(heldCode) +
                  ") >/dev/null 2>&1 &"),
              0);
    ASSERT_TRUE(WaitFor([&] {
      for (const std::string& name : Leftovers())
        if (name.starts_with(hold.heldName)) return true;
      return false;
    })) << hold.step;

    const auto second = h.Run(ShellQuote("/report=" + secondReport) + " /exitcode=22");
    EXPECT_EQ(second.exitCode, 22) << hold.step << second.errors;
    EXPECT_EQ(h.Report(secondReport).at("directory"), h.SysTmp(hold.secondsName)) << hold.step;
    ASSERT_FALSE(upktest::FileExists(heldCode)) << hold.step << ": the held run was not held";

    ASSERT_TRUE(WaitFor([&] { return upktest::FileExists(heldCode); }, 60)) << hold.step;
    EXPECT_EQ(upktest::ReadFile(heldCode), "11\n") << hold.step << h.Log();
    EXPECT_TRUE(Leftovers().empty()) << hold.step << ": " << Leftovers().front();
  }
}

// Setup is killed while its setup program still runs: the program keeps the
// directory locked, so no later run sweeps it away under the program.
TEST_F(SetupHardeningTest, SetupProgramThatOutlivesSetupKeepsItsDirectory) {
  h.Build("");
  const std::string report = h.Root("report.txt");
  const std::string pidFile = h.Root("setup.pid");
  ASSERT_EQ(upktest::RunCommand("cd " + ShellQuote(h.Pkg()) + " && (env TMPDIR=" +
                                ShellQuote(h.SysTmp()) + " UPK_RESTART_COMMAND=true ./Setup " +
                                ShellQuote("/report=" + report) +
                                " /sleep=3000 >/dev/null 2>&1 & echo $! >" + ShellQuote(pidFile) +
                                ")"),
            0);
  ASSERT_TRUE(WaitFor([&] { return upktest::FileExists(report); }));
  const std::string pid = upktest::ReadFile(pidFile).substr(0, upktest::ReadFile(pidFile).find('\n'));
  ASSERT_EQ(upktest::RunCommand("kill -KILL " + pid), 0);
  // Gone for good: its descriptors are closed once it is no longer running.
  ASSERT_TRUE(WaitFor([&] {
    std::string state;
    upktest::RunCommand("grep -s '^State:' /proc/" + pid + "/status", &state);
    return state.empty() || state.find("Z") != std::string::npos;
  }));

  const plat::WString dir = upktest::WinPath(h.SysTmp("SetupTemp0"));
  EXPECT_FALSE(plat::DeleteTree(dir));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_SHARING_VIOLATION);
  const std::string second = h.Root("second.txt");
  EXPECT_EQ(h.Run(ShellQuote("/report=" + second) + " /exitcode=7").exitCode, 7);
  EXPECT_EQ(h.Report(second).at("directory"), h.SysTmp("SetupTemp1"));
  EXPECT_TRUE(fs::exists(h.SysTmp("SetupTemp0/QXSetup.exe")));
  // Once the program has ended, the directory is a leftover like any other.
  EXPECT_TRUE(WaitFor([&] { return plat::DeleteTree(dir); }));
}

// A write that fails while a library is copied out (a full disk, here a
// file-size limit) ends the run with that copy's code; nothing cut short is
// loaded, and the directory goes.
TEST_F(SetupHardeningTest, FailedLibraryCopyEndsTheRunAndRemovesTheDirectory) {
  const auto upk4Size = fs::file_size(e2e::Harness::Built("lib/libupk4.so"));
  h.Build("");
  h.SetLauncher("prlimit --fsize=" + std::to_string(upk4Size / 2));
  auto run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus) << run.errors;
  EXPECT_NE(h.Log().find("7 ("), std::string::npos) << h.Log();
  EXPECT_TRUE(run.errors.find("Disk full while writing to") != std::string::npos ||
              run.errors.find("Read-/Write-Error!") != std::string::npos)
      << run.errors;
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));

  // The second stage, larger than the limit, while upk4 fits.
  const std::string bigUpk2 = h.Root("big-upk2.so");
  fs::copy_file(e2e::Harness::Built("lib/upk/upk2.so"), bigUpk2);
  const auto limit = upk4Size + 65536;
  fs::resize_file(bigUpk2, 2 * limit);
  h.Build("--stored --entry A11=" + ShellQuote(bigUpk2) +
              " --entry QXSetup.exe=" + ShellQuote(e2e::Harness::Built("lib/upk/QXSetup.exe")),
          false);
  h.SetLauncher("prlimit --fsize=" + std::to_string(limit));
  run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus) << run.errors;
  EXPECT_NE(h.Log().find("3 ("), std::string::npos) << h.Log();
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
  // Without the limit the same package runs.
  h.SetLauncher("");
  EXPECT_EQ(h.Run("/exitcode=5").exitCode, 5);
}

// A payload name with a NUL inside ("upk4.dll\0.txt") passes a check that
// compares whole names, and at the system would be "upk4.dll": the platform
// refuses it, so the second stage fails instead of replacing a file.
TEST_F(SetupHardeningTest, PayloadNameWithNulNeverReachesSetupsFiles) {
  const std::string decoy = h.Root("decoy");
  upktest::WriteFile(decoy, "not a library");
  for (const char* name : {"upk4.dll\\0.txt", "upk2.dll\\0x", "QXSetup.exe\\0.txt"}) {
    h.Build("--entry A11=" + ShellQuote(e2e::Harness::Built("lib/upk/upk2.so")) +
                " --entry QXSetup.exe=" + ShellQuote(e2e::Harness::Built("lib/upk/QXSetup.exe")) +
                " --entry " + ShellQuote(std::string(name) + "=" + decoy),
            false);
    const auto run = h.Run("/exitcode=3");
    EXPECT_EQ(run.exitCode, e2e::kFailedStatus) << name << run.errors;  // the setup program never ran
    EXPECT_NE(h.Log().find("upk2: "), std::string::npos) << name << h.Log() << run.errors;
    EXPECT_TRUE(Leftovers() == std::vector<std::string>{"qxi_setup.log"}) << name;
  }
}

// A temporary path that is not valid UTF-8 would become another directory
// when converted: the run has no temporary directory instead.
TEST_F(SetupHardeningTest, TemporaryPathThatIsNotUtf8IsRefusedNotSubstituted) {
  h.Build("");
  const std::string odd = h.Root("tmp\xff");
  const std::string substitute = h.Root("tmp\xef\xbf\xbd");  // U+FFFD, the lossy form
  fs::create_directories(odd);
  fs::create_directories(substitute);
  const auto run = h.Run("/exitcode=9", "TMPDIR=" + ShellQuote(odd));
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  EXPECT_NE(run.errors.find("Kein TempDir????"), std::string::npos) << run.errors;
  EXPECT_TRUE(fs::is_empty(odd));
  EXPECT_TRUE(fs::is_empty(substitute));
  EXPECT_FALSE(fs::exists(h.Pkg("qx.tmp")));
  EXPECT_FALSE(fs::exists(h.Pkg("qxi_setup.log")));
}

// Links that another user plants in the shared temporary path and beside
// the package: nothing they point to is written, changed or removed.
TEST_F(SetupHardeningTest, PlantedLinksAreNeverFollowed) {
  const std::string victim = h.Root("victim");
  upktest::WriteFile(victim, "precious");
  fs::permissions(victim, fs::perms::owner_read);
  // The log of a failed run replaces a link under its name.
  fs::create_symlink(victim, h.SysTmp("qxi_setup.log"));
  h.Build("--no-marker");
  h.Run("");
  EXPECT_FALSE(fs::is_symlink(h.SysTmp("qxi_setup.log")));
  EXPECT_NE(h.Log().find("2 ("), std::string::npos);
  EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read);

  // After a restart request the copy back finds no source: neither the
  // removed directory nor "SetupTemp0stvar.ini" beside it in the shared path.
  h.Build("");
  fs::create_symlink(victim, h.Pkg("stvar.ini"));
  upktest::WriteFile(h.SysTmp("SetupTemp0stvar.ini"), "planted");
  h.Run("/copystvar /writestvar=mine /exitcode=1641");
  EXPECT_TRUE(fs::is_symlink(h.Pkg("stvar.ini")));
  EXPECT_EQ(upktest::ReadFile(victim), "precious");

  // Without a restart the copy back replaces the link by the file.
  const auto run = h.Run("/copystvar /writestvar=mine");
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_FALSE(fs::is_symlink(h.Pkg("stvar.ini")));
  EXPECT_EQ(upktest::ReadFile(h.Pkg("stvar.ini")), "mine");
  EXPECT_EQ(upktest::ReadFile(victim), "precious");
  EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read);
}

// An argument with a line break cannot be carried in "qx.tmp": it alone is
// left out, the log says so, and every other argument arrives.
TEST_F(SetupHardeningTest, ArgumentWithALineBreakIsLeftOutAloneAndLogged) {
  h.Build("");
  const std::string report = h.Root("report.txt");
  const auto run = h.Run(ShellQuote("/report=" + report) +
                         " first \"$(printf 'two\\nlines')\" 'last one' /exitcode=4");
  EXPECT_EQ(run.exitCode, 4) << run.errors;
  EXPECT_EQ(h.Report(report).at("commandstring"),
            "/report=" + report + " first \"last one\" /exitcode=4");
  EXPECT_EQ(h.Log(), "Setup-ErrorCodes: argument 3 left out (line break), ");
}

}  // namespace
