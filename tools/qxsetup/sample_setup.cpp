#include "sample_setup.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/native_path.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace qxsetup {

namespace {

bool StartsWithNoCase(plat::WStringView text, plat::WStringView prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t a = text[i], b = prefix[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b - u'A' + u'a');
    if (a != b) return false;
  }
  return true;
}

std::optional<int64_t> ParseInteger(plat::WStringView text) {
  const std::string utf8 = plat::Utf16ToUtf8(text);
  int64_t value = 0;
  const char* end = utf8.data() + utf8.size();
  const auto [ptr, ec] = std::from_chars(utf8.data(), end, value);
  if (utf8.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

plat::WString DirectoryOf(plat::WStringView path) {
  const size_t slash = path.find_last_of(u"\\/");
  return plat::WString(slash == plat::WStringView::npos ? path : path.substr(0, slash + 1));
}

void WriteWholeFile(const std::string& nativePath, const std::string& bytes) {
  std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + nativePath);
}

}  // namespace

Options ParseArguments(const std::vector<plat::WString>& arguments) {
  static constexpr plat::WStringView kExitCode = u"/exitcode=";
  static constexpr plat::WStringView kReport = u"/report=";
  static constexpr plat::WStringView kWriteStvar = u"/writestvar=";
  static constexpr plat::WStringView kSleep = u"/sleep=";
  Options options;
  options.arguments = arguments;
  for (const plat::WString& arg : arguments) {
    const plat::WStringView view(arg);
    if (StartsWithNoCase(view, kExitCode)) {
      if (const auto code = ParseInteger(view.substr(kExitCode.size()))) {
        options.exitCode = *code;
        continue;
      }
    } else if (StartsWithNoCase(view, kReport)) {
      options.reportPath = plat::WString(view.substr(kReport.size()));
      continue;
    } else if (StartsWithNoCase(view, kSleep)) {
      if (const auto ms = ParseInteger(view.substr(kSleep.size())); ms && *ms >= 0) {
        options.sleepMs = *ms;
        continue;
      }
    } else if (StartsWithNoCase(view, kWriteStvar)) {
      options.stvarText = plat::WString(view.substr(kWriteStvar.size()));
      continue;
    }
    options.work.push_back(arg);
  }
  return options;
}

std::string FormatReport(const Options& options, const Observation& seen, int64_t exitCode) {
  std::string report;
  auto line = [&report](const char* key, const std::string& value) {
    report += key;
    report += '=';
    report += value;
    report += '\n';
  };
  for (const plat::WString& arg : options.arguments) line("argument", plat::Utf16ToUtf8(arg));
  line("directory", plat::ToNativePath(seen.currentDir));
  line("module", plat::ToNativePath(seen.moduleDir));
  line("qx.tmp", seen.qxTmpPresent ? "present" : "absent");
  line("commandstring", plat::Utf16ToUtf8(seen.commandString));
  line("stvar.ini", seen.stvarPresent ? "present" : "absent");
  line("exitcode", std::to_string(exitCode));
  return report;
}

int Run() {
  Observation seen;
  seen.moduleDir = DirectoryOf(plat::GetModuleFileName());
  seen.currentDir = plat::GetCurrentDirectory().value_or(u"");
  const plat::WString qxTmp = seen.moduleDir + u"qx.tmp";
  const plat::WString stvar = seen.moduleDir + u"stvar.ini";
  seen.qxTmpPresent = plat::PathFileExists(qxTmp);
  seen.commandString = plat::ReadProfileString(u"PARA", u"CommandString", u"", qxTmp);
  seen.stvarPresent = plat::PathFileExists(stvar);

  const Options options = ParseArguments(plat::SplitCommandLine(seen.commandString));
  const int64_t exitCode = options.exitCode.value_or(0);

  // The real work of a setup program; this one only says what it would do.
  std::printf("QXSetup: installing from %s\n", plat::ToNativePath(seen.moduleDir).c_str());
  for (const plat::WString& item : options.work) {
    std::printf("QXSetup: installing with %s\n", plat::Utf16ToUtf8(item).c_str());
  }
  std::fflush(stdout);

  if (options.stvarText) {
    WriteWholeFile(plat::ToNativePath(stvar), plat::Utf16ToUtf8(*options.stvarText));
  }
  if (options.reportPath) {
    WriteWholeFile(plat::ToNativePath(*options.reportPath),
                   FormatReport(options, seen, exitCode));
  }
  if (options.sleepMs) plat::Sleep(static_cast<uint32_t>(*options.sleepMs));
  return static_cast<int>(exitCode);
}

}  // namespace qxsetup
