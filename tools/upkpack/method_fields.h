// Sets the method and "version needed to extract" of chosen entries of a
// finished ZIP file, in their local and central headers. minizip writes
// only stored and deflated entries; Zstandard and LZMA entries are written
// through it as raw "deflated" data and get their true method here.
#pragma once
#include <cstdint>
#include <filesystem>
#include <vector>

namespace upkpack {

// For every entry i with patch[i] set: method becomes method and the
// version needed at least 6.3. Throws PackError.
void SetNewerMethods(const std::filesystem::path& zipFile, const std::vector<bool>& patch,
                     uint16_t method);

}  // namespace upkpack
