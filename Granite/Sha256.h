// The SHA-256 digest of a file through Windows CNG, as 64 lower-case
// hexadecimal digits (the form sha256sum prints).
#pragma once

#include <string>

namespace Granite {

std::wstring FileSha256Text(const std::wstring& path);

} // namespace Granite
