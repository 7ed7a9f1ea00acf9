// Library start-up and shutdown. One CLibrary object lives for the program's
// main function; nested objects only count.
#pragma once

namespace Bas {

class CLibrary {
public:
    CLibrary();
    ~CLibrary();
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
};

// True between a completed start-up and the end of shutdown.
bool IsLibraryRunning() noexcept;

} // namespace Bas
