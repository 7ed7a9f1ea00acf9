// The SHA-256 digest of a file through Windows CNG, as 64 lower-case
// hexadecimal digits (the form sha256sum prints).
#pragma once

#include "NativeFileSystem.h"

#include <string>

namespace Granite {

// The progress is called between blocks.
std::wstring FileSha256Text(const std::wstring& path, const Bas::CProgress& progress = {});

} // namespace Granite
