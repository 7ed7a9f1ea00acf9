// Reads a written archive back before it is handed on: the end record and
// the central directory must say what the writer wrote, every local header
// must match its central record, and every entry's data must inflate to its
// recorded size and CRC-32. A mismatch is an error naming the archive and
// what is wrong with it.
#pragma once

#include "NativeFileSystem.h"
#include "WorkerPool.h"
#include "ZipCompressor.h"

#include <string>
#include <vector>

namespace Granite {

// Throws ERR_ZIP_ARCHIVE_DAMAGED with the path and the reason, for the first
// entry in the archive's order that is wrong. The progress is called between
// blocks. With a pool, the entries' data is inflated on its workers while
// this thread reads the records and headers.
void VerifyZipArchive(const std::wstring& path, const std::vector<CZipEntry>& written,
                      const Bas::CProgress& progress = {}, Bas::CWorkerPool* pool = nullptr);

} // namespace Granite
