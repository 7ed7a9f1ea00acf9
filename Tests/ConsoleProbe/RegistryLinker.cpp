// Makes and deletes registry links below HKEY_CURRENT_USER for the
// integration tests (reg.exe can do neither; its "delete" would follow a
// link into the key it leads to):
//   RegistryLinker make   PATH TARGET   HKCU\PATH becomes a link to HKCU\TARGET
//   RegistryLinker delete PATH          the link HKCU\PATH itself is deleted
// The exit code is 0 when it was done.
#include "RegistryLink.h"

#include <string>

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 2 ? argv[1] : L"";
    if (mode == L"make" && argc == 4)
        return Testing::MakeUserLink(argv[2], argv[3]) == ERROR_SUCCESS ? 0 : 1;
    if (mode == L"delete" && argc == 3)
        return Testing::DeleteUserLink(argv[2]) ? 0 : 1;
    return 2;
}
