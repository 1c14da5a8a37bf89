#include "e2e_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {

Harness::Harness() : pkg_(dir_.Path("pkg")), sysTmp_(dir_.Path("systemp")) {
  fs::create_directories(pkg_);
  fs::create_directories(sysTmp_);
}

std::string Harness::SysTmp(const std::string& name) const {
  return name.empty() ? sysTmp_ : sysTmp_ + "/" + name;
}

std::string Harness::Built(const std::string& relative) {
  return upktest::BuildDir() + "/" + relative;
}

std::string Harness::Fixture(const std::string& name) {
  return std::string(UPK_E2E_FIXTURE_DIR) + "/" + name;
}

std::string Harness::Builder() { return std::string(UPK_E2E_SOURCE_DIR) + "/make_package.py"; }

void Harness::Build(const std::string& extraArgs, bool defaultEntries) {
  using upktest::ShellQuote;
  std::string cmd = "python3 " + ShellQuote(Builder()) + " --setup " +
                    ShellQuote(Built("bin/Setup")) + " --out " + ShellQuote(Pkg("Setup"));
  if (extraArgs.find("--upk4 ") == std::string::npos) {
    cmd += " --upk4 " + ShellQuote(Built("lib/libupk4.so"));
  }
  if (defaultEntries) {
    cmd += " --entry A11=" + ShellQuote(Built("lib/upk/upk2.so")) +
           " --entry QXSetup.exe=" + ShellQuote(Built("lib/upk/QXSetup.exe"));
  }
  cmd += " " + extraArgs;
  ASSERT_EQ(upktest::RunCommand(cmd), 0) << cmd;
}

SetupRun Harness::Run(const std::string& arguments, const std::string& env,
                      const std::string& restartCommand) {
  using upktest::ShellQuote;
  const std::string errFile = dir_.Path("stderr.txt");
  // The restart command is set on the command itself, whatever the test
  // runner's environment holds.
  const std::string cmd = std::string(launcher_.empty() ? "" : "trap '' XFSZ; ") + "cd " +
                          ShellQuote(pkg_) + " && env TMPDIR=" + ShellQuote(sysTmp_) +
                          " UPK_RESTART_COMMAND=" + ShellQuote(restartCommand) + " " + env +
                          " " + launcher_ + " ./Setup " + arguments + " >/dev/null 2>" +
                          ShellQuote(errFile);
  SetupRun run;
  run.exitCode = upktest::RunCommand(cmd);
  run.errors = upktest::FileExists(errFile) ? upktest::ReadFile(errFile) : "";
  return run;
}

bool Harness::HasLog() const { return fs::exists(SysTmp("qxi_setup.log")); }

std::string Harness::Log() const {
  if (!HasLog()) return "";
  const std::string bytes = upktest::ReadFile(SysTmp("qxi_setup.log"));
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    // Our texts are ASCII; anything else shows as '?'.
    text += bytes[i + 1] == 0 ? bytes[i] : '?';
  }
  if (bytes.size() % 2 != 0) text += "<odd length>";
  return text;
}

std::map<std::string, std::string> Harness::Report(const std::string& path) const {
  std::map<std::string, std::string> report;
  if (!upktest::FileExists(path)) return report;
  std::istringstream in(upktest::ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string& value = report[line.substr(0, eq)];
    if (!value.empty()) value += "\n";
    value += line.substr(eq + 1);
  }
  return report;
}

}  // namespace e2e
