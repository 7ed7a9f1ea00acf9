#include "Library.h"

#include "Lock.h"
#include "ResourceInfo.h"
#include "TempFile.h"

#include <atomic>
#include <mutex>

namespace Bas {

namespace {

constinit CLock g_startUpLock;
constinit int g_nesting = 0;
std::atomic<bool> g_running{false};

} // namespace

CLibrary::CLibrary()
{
    std::lock_guard guard(g_startUpLock);
    if (g_nesting++ == 0)
        g_running = true;
}

CLibrary::~CLibrary()
{
    std::lock_guard guard(g_startUpLock);
    if (--g_nesting == 0) {
        ShutdownTempFiles();
        g_running = false;
        ResetResourceBase();
    }
}

bool IsLibraryRunning() noexcept
{
    return g_running;
}

} // namespace Bas
