// Cuts a one-file ZIP archive into the volumes of a split archive, our own
// code because no ZIP library here writes volumes in the package's naming.
//
// The volumes are those of a real split archive: every entry's central
// header carries the volume its local header starts on and the offset within
// that volume, the end record names the last volume as its own and the
// volume and offset where the central directory starts. Records that the
// reader takes whole (a local header with its name and extra field, each
// central header, the end record) never straddle two volumes: a volume ends
// early when the next one would not fit. Entry data runs on from volume to
// volume. No spanning signature is written: offsets count from each
// volume's first byte.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace upkpack {

// The file name of a volume: number 1 is the last volume (the one with the
// end record), 2 the first, 3 the second and so on.
using VolumeNamer = std::function<std::string(uint32_t number)>;

// Writes the volumes into directory and returns their paths, first to last.
// Throws PackError when the volume size is too small for a record, when
// there would be more than 65535 volumes, or on any read or write failure.
std::vector<std::filesystem::path> SplitArchive(const std::filesystem::path& archive,
                                                uint64_t volumeSize,
                                                const std::filesystem::path& directory,
                                                const VolumeNamer& volumeName);

}  // namespace upkpack
