// The tools library's message names.
#pragma once

#include "Message.h"

namespace Granite {

inline const Bas::CMessageName ERR_ZLIB_INIT_FAILED{L"ERR_ZLIB_INIT_FAILED"};
inline const Bas::CMessageName ERR_ZIP_TOO_MANY_ENTRIES{L"ERR_ZIP_TOO_MANY_ENTRIES"};
inline const Bas::CMessageName ERR_ZIP_NAME_TOO_LONG{L"ERR_ZIP_NAME_TOO_LONG"};
inline const Bas::CMessageName ERR_ZIP_ENTRY_TOO_LARGE{L"ERR_ZIP_ENTRY_TOO_LARGE"};
inline const Bas::CMessageName ERR_ZIP_ARCHIVE_TOO_LARGE{L"ERR_ZIP_ARCHIVE_TOO_LARGE"};

} // namespace Granite
