// Running the real Setup on a package in a scratch directory: the package
// lives in <test>/pkg, the system temporary path is <test>/systemp, and the
// restart command is always set, so nothing can restart the machine.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace e2e {

// What a failed run leaves in an 8-bit exit status: 1603, or 1602 when the
// second stage reported a cancel.
inline constexpr int kFailedStatus = 1603 & 0xFF;     // 67
inline constexpr int kCancelledStatus = 1602 & 0xFF;  // 66

struct SetupRun {
  int exitCode = -1;
  std::string errors;  // standard error
};

class Harness {
 public:
  Harness();
  std::string Pkg(const std::string& name = "") const { return pkg_ + (name.empty() ? "" : "/" + name); }
  std::string SysTmp(const std::string& name = "") const;
  void SetSysTmp(const std::string& path) { sysTmp_ = path; }
  std::string Root(const std::string& name) const { return dir_.Path(name); }
  // A command that starts Setup for the runs that follow ("prlimit ...");
  // a file-size limit then fails writes instead of ending the process.
  void SetLauncher(const std::string& launcher) { launcher_ = launcher; }

  // Builds pkg/Setup with the independent builder. The default payload is
  // the reference second stage as "A11" and the sample setup program.
  void Build(const std::string& extraArgs, bool defaultEntries = true);
  // Runs pkg/Setup with the argument text (given to the shell as it is).
  SetupRun Run(const std::string& arguments, const std::string& env = "",
               const std::string& restartCommand = "true");

  // "qxi_setup.log" in the system temporary path, UTF-16LE decoded; empty
  // when there is none.
  std::string Log() const;
  bool HasLog() const;
  // The sample program's report as key=value lines (repeated keys joined by
  // "\n"); empty when it wrote none.
  std::map<std::string, std::string> Report(const std::string& path) const;

  static std::string Built(const std::string& relative);
  static std::string Fixture(const std::string& name);
  static std::string Builder();

 private:
  upktest::TempDir dir_;
  std::string pkg_;
  std::string sysTmp_;
  std::string launcher_;
};

}  // namespace e2e
