// Zstandard and LZMA streams made at test time with the libraries
// themselves, and entries that carry them, for the reader's tests.
#pragma once
#include <cstdint>
#include <string>
#include "crafted_zip.h"

namespace upktest {

// One Zstandard frame of data at level (with its content size).
std::string ZstdFrame(const std::string& data, int level = 3);
// A skippable frame holding payload.
std::string SkippableFrame(const std::string& payload);
// A hand-made frame with the window 2^windowLog (not single-segment, no
// content size) whose one raw block holds data (at most 128 KiB).
std::string ZstdRawFrame(const std::string& data, unsigned windowLog);

// An LZMA entry's data in PKWARE's form: the 4-byte header, 5 property
// bytes and the raw stream, with or without the end marker, with the given
// dictionary size.
std::string PkwareLzma(const std::string& data, bool endMarker, uint32_t dictionary = 1u << 16);

// An entry of the method holding stream, which decodes to data.
CraftedEntry NewerEntry(const std::string& name, uint16_t method, const std::string& stream,
                        const std::string& data, uint16_t flags = 0);

}  // namespace upktest
