// Reads a written archive back before it is handed on: the end record and
// the central directory must say what the writer wrote, every local header
// must match its central record, and every entry's data must inflate to its
// recorded size and CRC-32. A mismatch is an error naming the archive and
// what is wrong with it.
#pragma once

#include "NativeFileSystem.h"
#include "ZipCompressor.h"

#include <string>
#include <vector>

namespace Granite {

// Throws ERR_ZIP_ARCHIVE_DAMAGED with the path and the reason. The progress
// is called between blocks.
void VerifyZipArchive(const std::wstring& path, const std::vector<CZipEntry>& written,
                      const Bas::CProgress& progress = {});

} // namespace Granite
