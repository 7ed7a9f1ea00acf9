// What the current user and the local system account may do with the
// configured files, folders and registry keys: each object's DACL in SDDL
// and every account's effective rights, decoded into right names. The
// security queries come through IAccessSystem; the decoding is pure.
#pragma once

#include "GleanSettings.h"
#include "Handles.h"

#include <string>
#include <vector>

namespace Glean {

enum class AccessKind { File, Folder, RegistryKey, Unknown };

// The right lines of a mask: the standard rights, the kind's rights, then
// the bits that the kind does not know, if any.
std::vector<std::wstring> RightLines(DWORD mask, AccessKind kind);
// Lower-case hexadecimal without leading zeros.
std::wstring MaskText(DWORD mask);

struct CAccessAccount {
    std::wstring name;    // domain "\" account
    std::wstring sidText; // "S-1-5-18"
    std::vector<BYTE> sid;
};

class IAccessSystem {
public:
    virtual ~IAccessSystem() = default;
    // False when the process token gives no user.
    virtual bool CurrentUser(CAccessAccount& account) = 0;
    virtual CAccessAccount LocalSystem() = 0;
    // Reads an object's DACL, kept for EffectiveRights until the next call;
    // the Windows code. `sddl` is empty when the DACL does not convert.
    virtual DWORD ReadDacl(const CAccessObject& object, std::wstring& sddl) = 0;
    // The rights the DACL last read gives an account; the Windows code.
    virtual DWORD EffectiveRights(const CAccessAccount& account, DWORD& mask) = 0;
    virtual bool IsFolder(const std::wstring& path) = 0;
};

class CWindowsAccessSystem : public IAccessSystem {
public:
    bool CurrentUser(CAccessAccount& account) override;
    CAccessAccount LocalSystem() override;
    DWORD ReadDacl(const CAccessObject& object, std::wstring& sddl) override;
    DWORD EffectiveRights(const CAccessAccount& account, DWORD& mask) override;
    bool IsFolder(const std::wstring& path) override;

private:
    Bas::CLocalMemory m_descriptor;
    PACL m_dacl = nullptr;
};

// The lines of the log; problems go into the application log.
std::vector<std::wstring> BuildAccessLines(IAccessSystem& system, const std::vector<CAccessObject>& objects);
// Writes the lines into a new "GSL" temporary file and returns its path.
std::wstring WriteAccessLog(const std::vector<CAccessObject>& objects);

} // namespace Glean
