#include "updater/WorkFolder.h"

#include <initializer_list>

#include "support/ByteArea.h"
#include "support/FormatText.h"
#include "support/PathText.h"
#include "support/TextRoutines.h"

namespace {

// Names tried before the folder is given up: the digest alone, then with
// numbers from the tick count. Each taken name costs one refused create.
constexpr uint32_t kMostNames = 0x10000;
constexpr size_t kAceCount = 3;
constexpr size_t kAclCapacity = 512;
constexpr size_t kTokenUserCapacity = 256;

// An access list that lets administrators and the system do anything to the
// folder and to what is made in it, and nobody else anything; it is not
// inherited from the temporary folder, which the user's programs may write.
// A process without administrator rights lets its own user in too: it could
// not use the folder otherwise, and its user's other programs could do
// whatever it does anyway.
class CPrivateAccess : NoCopy {
public:
    CPrivateAccess();
    // Null when the access list could not be built.
    SECURITY_ATTRIBUTES* Attributes() { return m_built ? &m_attributes : nullptr; }

private:
    bool Allow(PSID sid);

    alignas(8) unsigned char m_acl[kAclCapacity];
    alignas(8) unsigned char m_system[SECURITY_MAX_SID_SIZE];
    alignas(8) unsigned char m_administrators[SECURITY_MAX_SID_SIZE];
    alignas(8) unsigned char m_user[kTokenUserCapacity];
    SECURITY_DESCRIPTOR m_descriptor;
    SECURITY_ATTRIBUTES m_attributes;
    bool m_built;
};

bool MakeSid(void* buffer, DWORD first, DWORD second, BYTE count)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!InitializeSid(buffer, &nt, count))
        return false;
    *GetSidSubAuthority(buffer, 0) = first;
    if (count > 1)
        *GetSidSubAuthority(buffer, 1) = second;
    return true;
}

// True when the process's token counts as an administrator's: an elevated
// one. A filtered token holds the group for denying only.
bool IsAdministrator(PSID administrators)
{
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, administrators, &member) && member;
}

// The user of the process's token into buffer (kTokenUserCapacity bytes).
PSID TokenUser(void* buffer)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD needed = 0;
    const BOOL known =
        GetTokenInformation(token, ::TokenUser, buffer, kTokenUserCapacity, &needed);
    CloseHandle(token);
    return known ? static_cast<TOKEN_USER*>(buffer)->User.Sid : nullptr;
}

CPrivateAccess::CPrivateAccess() : m_attributes{}, m_built(false)
{
    if (!MakeSid(m_system, SECURITY_LOCAL_SYSTEM_RID, 0, 1) ||
        !MakeSid(m_administrators, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 2) ||
        !InitializeAcl(reinterpret_cast<PACL>(m_acl), sizeof m_acl, ACL_REVISION) ||
        !Allow(m_system) || !Allow(m_administrators))
        return;
    if (!IsAdministrator(m_administrators)) {
        PSID user = TokenUser(m_user);
        if (user == nullptr || !Allow(user))
            return;
    }
    if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&m_descriptor, TRUE, reinterpret_cast<PACL>(m_acl), FALSE) ||
        !SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return;
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
    m_built = true;
}

bool CPrivateAccess::Allow(PSID sid)
{
    return AddAccessAllowedAceEx(reinterpret_cast<PACL>(m_acl), ACL_REVISION,
                                 OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                 sid) != FALSE;
}

}  // namespace

CWorkFolder::CWorkFolder() : m_path{}, m_copies(nullptr), m_copyCount(0) {}

CWorkFolder::~CWorkFolder()
{
    Close();
}

bool CWorkFolder::Create(const char* parent, const char* stem, uint32_t copyCount)
{
    Close();
    CPrivateAccess access;
    if (access.Attributes() == nullptr)
        return false;
    m_copies = static_cast<HANDLE*>(AllocArea(copyCount * static_cast<uint32_t>(sizeof(HANDLE))));
    if (m_copies == nullptr)
        return false;
    m_copyCount = copyCount;
    for (uint32_t i = 0; i < copyCount; ++i)
        m_copies[i] = INVALID_HANDLE_VALUE;

    const uint32_t first = GetTickCount();
    for (uint32_t attempt = 0; attempt < kMostNames; ++attempt) {
        char name[80];
        if (attempt == 0)
            CopyText(name, sizeof name, stem);
        else
            FormatText(name, sizeof name, "%s-%x4", stem, (first + attempt) & 0xFFFFu);
        char path[sizeof m_path];
        // A name that exists in any form, a link included, refuses the
        // create; it is neither used nor touched.
        if (!JoinPath(path, sizeof path, parent, name) || !EndWithBackslash(path, sizeof path))
            break;
        if (CreateDirectoryA(path, access.Attributes())) {
            CopyText(m_path, sizeof m_path, path);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    return false;
}

HANDLE CWorkFolder::CreateCopy(uint32_t index, const char* name)
{
    if (m_path[0] == '\0' || index >= m_copyCount || m_copies[index] != INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    // Two entries may install files of one name into two folders; each gets
    // a copy of its own.
    char numbered[80];
    FormatText(numbered, sizeof numbered, "%u-%s", index, name);
    for (const char* candidate : {name, static_cast<const char*>(numbered)}) {
        char path[sizeof m_path + 80];
        if (!JoinPath(path, sizeof path, m_path, candidate))
            break;
        // Writers are refused for as long as the copy lives; readers must
        // allow the writing and the deletion that this handle holds.
        m_copies[index] = CreateFileA(
            path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (m_copies[index] != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return m_copies[index];
}

HANDLE CWorkFolder::Copy(uint32_t index) const
{
    return index < m_copyCount ? m_copies[index] : INVALID_HANDLE_VALUE;
}

void CWorkFolder::Close()
{
    for (uint32_t i = 0; i < m_copyCount; ++i)
        if (m_copies[i] != INVALID_HANDLE_VALUE)
            CloseHandle(m_copies[i]);
    FreeArea(m_copies);
    m_copies = nullptr;
    m_copyCount = 0;
    // Refused while anything is still in it.
    if (m_path[0] != '\0')
        RemoveDirectoryA(m_path);
    m_path[0] = '\0';
}
