#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "pack_error.h"
#include "pack_options.h"
#include "package_builder.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "progress_line.h"
#include "windows_target.h"

int main(int argc, char** argv) {
  using namespace upkpack;
  PackOptions options;
  try {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (ParseCommandLine(arguments, options) == ParseOutcome::Help) {
      std::fputs(UsageText(), stdout);
      return 0;
    }
    options.sourceDateEpoch = ParseSourceDateEpoch(std::getenv("SOURCE_DATE_EPOCH"));
  } catch (const PackError& e) {
    std::fprintf(stderr, "upkpack: %s\n", e.what());
    return 2;
  }

  try {
    const std::filesystem::path self = plat::ToNativePath(plat::GetModuleFileName());
    ApplyDefaultInputs(options, self.parent_path());
    CheckWindowsInputs(options);
    ProgressLine progress(!options.quiet);
    const BuildResult result = BuildPackage(options, progress);
    if (result.unchecked) {
      std::fprintf(stderr,
                   "upkpack: note: the package's CRC-32 is 0, which the trailer records as "
                   "\"no check\": Setup cannot check this package for damage\n");
    }
    if (!options.quiet) {
      std::printf("upkpack: wrote %s (%llu bytes, %zu entries, archive %s)\n",
                  result.package.string().c_str(),
                  static_cast<unsigned long long>(result.packageSize), result.entries,
                  result.archives.empty() ? "inside" : "beside");
      for (const auto& archive : result.archives) {
        std::printf("upkpack: wrote %s\n", archive.string().c_str());
      }
    }
    return 0;
  } catch (const PackError& e) {
    std::fprintf(stderr, "upkpack: error: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "upkpack: error: %s\n", e.what());
  }
  return 1;
}
