// The test program carries the library's English texts as its own table.
#include "MessageTable.h"
#include "ResourceInfo.h"

namespace {

constexpr const wchar_t* kNames[] = {
#include "generated/BasaltMessages.inc"
};

struct CRegisterProgramModule {
    CRegisterProgramModule() { Bas::RegisterResourceModule(::GetModuleHandleW(nullptr)); }
} g_registerProgramModule;

} // namespace

BAS_DEFINE_MESSAGE_TABLE(kNames)
