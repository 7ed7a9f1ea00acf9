// Hermod's message table and its exports; the program registers itself as
// a resource module while static objects are constructed.
#include "MessageTable.h"
#include "ResourceInfo.h"

namespace {

constexpr const wchar_t* kHermodMessageNames[] = {
#include "generated/HermodMessages.inc"
};

struct CRegisterProgramModule {
    CRegisterProgramModule() { Bas::RegisterResourceModule(::GetModuleHandleW(nullptr)); }
} g_registerProgramModule;

} // namespace

BAS_DEFINE_MESSAGE_TABLE(kHermodMessageNames)
