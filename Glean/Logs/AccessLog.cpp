#include "AccessLog.h"

#include "Account.h"
#include "Errors.h"
#include "GleanAppLog.h"
#include "Message.h"
#include "NativeFileSystem.h"
#include "TempFile.h"
#include "TextStream.h"
#include "generated/GleanMessages.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <iterator>

namespace Glean {

namespace {

struct CRight {
    const wchar_t* name;
    DWORD bit;
};

const CRight kStandardRights[] = {
    {L"DELETE", 0x00010000}, {L"READ_CONTROL", 0x00020000}, {L"WRITE_DAC", 0x00040000}, {L"WRITE_OWNER", 0x00080000}};

const CRight kFileRights[] = {
    {L"FILE_READ_DATA", 0x001},       {L"FILE_WRITE_DATA", 0x002},       {L"FILE_APPEND_DATA", 0x004},
    {L"FILE_READ_EA", 0x008},         {L"FILE_WRITE_EA", 0x010},         {L"FILE_EXECUTE", 0x020},
    {L"FILE_READ_ATTRIBUTES", 0x080}, {L"FILE_WRITE_ATTRIBUTES", 0x100}, {L"SYNCHRONIZE", 0x100000}};

const CRight kFolderRights[] = {
    {L"FILE_LIST_DIRECTORY", 0x001}, {L"FILE_ADD_FILE", 0x002},         {L"FILE_ADD_SUBDIRECTORY", 0x004},
    {L"FILE_READ_EA", 0x008},        {L"FILE_WRITE_EA", 0x010},         {L"FILE_TRAVERSE", 0x020},
    {L"FILE_DELETE_CHILD", 0x040},   {L"FILE_READ_ATTRIBUTES", 0x080}, {L"FILE_WRITE_ATTRIBUTES", 0x100},
    {L"SYNCHRONIZE", 0x100000}};

const CRight kKeyRights[] = {
    {L"KEY_QUERY_VALUE", 0x0001},  {L"KEY_SET_VALUE", 0x0002}, {L"KEY_CREATE_SUB_KEY", 0x0004},
    {L"KEY_ENUMERATE_SUB_KEYS", 0x0008}, {L"KEY_NOTIFY", 0x0010}, {L"KEY_CREATE_LINK", 0x0020},
    {L"KEY_WOW64_32KEY", 0x0200},  {L"KEY_WOW64_64KEY", 0x0100}};

template <std::size_t N>
void AddRights(DWORD mask, const CRight (&table)[N], std::vector<std::wstring>& lines)
{
    for (const CRight& right : table) {
        if (mask & right.bit)
            lines.push_back(std::wstring(L"\t\t") + right.name);
    }
}

std::wstring CodeText(DWORD code)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08x", static_cast<unsigned>(code));
    return text;
}

} // namespace

std::wstring MaskText(DWORD mask)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%x", static_cast<unsigned>(mask));
    return text;
}

std::vector<std::wstring> RightLines(DWORD mask, AccessKind kind)
{
    std::vector<std::wstring> lines;
    AddRights(mask, kStandardRights, lines);
    DWORD known = 0xF0000;
    switch (kind) {
    case AccessKind::File:
        AddRights(mask, kFileRights, lines);
        known = 0x1F01FF;
        break;
    case AccessKind::Folder:
        AddRights(mask, kFolderRights, lines);
        known = 0x1F01FF;
        break;
    case AccessKind::RegistryKey:
        AddRights(mask, kKeyRights, lines);
        known = 0xF033F;
        break;
    case AccessKind::Unknown:
        break;
    }
    if (mask & ~known)
        lines.push_back(L"\t\t" + MaskText(mask & ~known));
    return lines;
}

std::vector<std::wstring> BuildAccessLines(IAccessSystem& system, const std::vector<CAccessObject>& objects)
{
    CGleanAppLog& log = CGleanAppLog::Instance();
    std::vector<std::wstring> lines;
    std::vector<CAccessAccount> accounts;
    CAccessAccount user;
    if (system.CurrentUser(user)) {
        lines.push_back(Bas::Format(MSG_USER_PROFILE, user.name, user.sidText));
        accounts.push_back(std::move(user));
    } else {
        log.AddLine(Bas::GetText(MSG_GET_USER_SID_ERROR));
    }
    CAccessAccount localSystem = system.LocalSystem();
    lines.push_back(Bas::Format(MSG_SYSTEM_PROFILE, localSystem.name, localSystem.sidText));
    accounts.push_back(std::move(localSystem));

    for (const CAccessObject& object : objects) {
        lines.push_back(L"[" + object.name + L"]:");
        std::wstring sddl;
        const DWORD result = system.ReadDacl(object, sddl);
        if (result == ERROR_ACCESS_DENIED) {
            lines.push_back(Bas::GetText(MSG_GET_SECURITY_DESCRIPTOR_DENIED));
        } else if (result != ERROR_SUCCESS) {
            lines.push_back(Bas::GetText(MSG_GET_SECURITY_DESCRIPTOR_ERROR));
            log.AddLine(Bas::Format(MSG_GET_SECURITY_DESCRIPTOR_ERROR_DESCRIPTION, object.name, CodeText(result),
                                    Bas::GetLastErrorText(result)));
        } else {
            if (!sddl.empty())
                lines.push_back(L"\tSDDL: " + sddl);
            AccessKind kind = AccessKind::Unknown;
            if (object.kind == CAccessObject::RegistryKey)
                kind = AccessKind::RegistryKey;
            else if (object.kind == CAccessObject::File)
                kind = system.IsFolder(object.name) ? AccessKind::Folder : AccessKind::File;
            for (const CAccessAccount& account : accounts) {
                DWORD mask = 0;
                const DWORD code = system.EffectiveRights(account, mask);
                if (code == ERROR_ACCESS_DENIED) {
                    lines.push_back(Bas::Format(MSG_GET_ACCESS_PERMISSION_DENIED, account.name));
                } else if (code != ERROR_SUCCESS) {
                    lines.push_back(Bas::GetText(MSG_GET_ACCESS_PERMISSION_ERROR));
                    log.AddLine(Bas::Format(MSG_GET_ACCESS_PERMISSION_ERROR_DESCRIPTION,
                                            {account.name, object.name, CodeText(code), Bas::GetLastErrorText(code)}));
                } else {
                    lines.push_back(L"\t" + account.name + L": " + MaskText(mask));
                    const auto rights = RightLines(mask, kind);
                    lines.insert(lines.end(), rights.begin(), rights.end());
                }
            }
        }
        lines.emplace_back();
    }
    return lines;
}

std::wstring WriteAccessLog(const std::vector<CAccessObject>& objects)
{
    CWindowsAccessSystem system;
    const auto lines = BuildAccessLines(system, objects);
    const std::wstring path = Bas::CreateTempFile(Bas::GetTempFolder(), L"GSL", L"tmp");
    Bas::WriteLines(path, lines);
    return path;
}

namespace {

// Name and SID text of an account; the name falls back to the SID text.
void DescribeAccount(CAccessAccount& account)
{
    PSID sid = account.sid.data();
    wchar_t* text = nullptr;
    if (::ConvertSidToStringSidW(sid, &text)) {
        Bas::CLocalMemory owner(text);
        account.sidText = text;
    }
    wchar_t name[256], domain[256];
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        account.name = std::wstring(domain) + L"\\" + name;
    else
        account.name = account.sidText;
}

} // namespace

bool CWindowsAccessSystem::CurrentUser(CAccessAccount& account)
{
    account.sid = Bas::CurrentUserSid();
    if (account.sid.empty())
        return false;
    DescribeAccount(account);
    return true;
}

CAccessAccount CWindowsAccessSystem::LocalSystem()
{
    CAccessAccount account;
    account.sid.resize(SECURITY_MAX_SID_SIZE);
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    ::InitializeSid(account.sid.data(), &authority, 1);
    *::GetSidSubAuthority(account.sid.data(), 0) = SECURITY_LOCAL_SYSTEM_RID;
    account.sid.resize(::GetLengthSid(account.sid.data()));
    DescribeAccount(account);
    return account;
}

DWORD CWindowsAccessSystem::ReadDacl(const CAccessObject& object, std::wstring& sddl)
{
    m_descriptor.Reset();
    m_dacl = nullptr;
    const SE_OBJECT_TYPE type = object.kind == CAccessObject::File          ? SE_FILE_OBJECT
                                : object.kind == CAccessObject::RegistryKey ? SE_REGISTRY_KEY
                                                                            : SE_UNKNOWN_OBJECT_TYPE;
    // A file is read through its long form like every other; a key's name
    // is no path.
    const std::wstring name = object.kind == CAccessObject::File ? Bas::LongPath(object.name) : object.name;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = ::GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                 &m_dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        m_dacl = nullptr;
        return result;
    }
    m_descriptor.Reset(descriptor);
    wchar_t* text = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                               DACL_SECURITY_INFORMATION, &text, nullptr)) {
        Bas::CLocalMemory owner(text);
        sddl = text;
    }
    return ERROR_SUCCESS;
}

DWORD CWindowsAccessSystem::EffectiveRights(const CAccessAccount& account, DWORD& mask)
{
    TRUSTEE_W trustee = {};
    std::vector<BYTE> sid = account.sid;
    ::BuildTrusteeWithSidW(&trustee, sid.data());
    // The rights are asked of a fresh copy of the DACL, the same entries in
    // the same order.
    std::vector<BYTE> copy;
    PACL acl = nullptr;
    if (m_dacl != nullptr) {
        ACL_SIZE_INFORMATION size = {};
        if (!::GetAclInformation(m_dacl, &size, sizeof size, AclSizeInformation))
            return ::GetLastError();
        copy.resize(size.AclBytesInUse);
        acl = reinterpret_cast<PACL>(copy.data());
        if (!::InitializeAcl(acl, static_cast<DWORD>(copy.size()), m_dacl->AclRevision))
            return ::GetLastError();
        for (DWORD i = 0; i < size.AceCount; ++i) {
            void* ace = nullptr;
            if (!::GetAce(m_dacl, i, &ace) ||
                !::AddAce(acl, m_dacl->AclRevision, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize))
                return ::GetLastError();
        }
    }
    ACCESS_MASK rights = 0;
    const DWORD result = ::GetEffectiveRightsFromAclW(acl, &trustee, &rights);
    mask = rights;
    return result;
}

bool CWindowsAccessSystem::IsFolder(const std::wstring& path)
{
    const DWORD attributes = Bas::PathAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace Glean
