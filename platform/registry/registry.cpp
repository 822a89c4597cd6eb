#include <algorithm>
#include <array>
#include <functional>

#include "platform/registry/memory_store.h"
#include "platform/registry/registry_core.h"
#include "platform/registry/wine_text.h"

namespace Branwick::Platform {

using Reg::CKeyNode;
using Reg::CName;
using Reg::CNameView;
using Reg::CValue;

namespace {

constexpr std::size_t kMaxKeyNameLen = 255;
constexpr std::size_t kMaxValueNameLen = 16383;
constexpr std::size_t kMaxDepth = 512;
constexpr int kMaxLinkDepth = 16;
constexpr std::size_t kNoRedirect = static_cast<std::size_t>(-1);
constexpr std::u16string_view kWow6432Node = u"Wow6432Node";
constexpr std::u16string_view kLinkValue = u"SymbolicLinkValue";
// Below the classes keys only these are redirected for the 32-bit view; the rest is shared.
constexpr std::array<std::u16string_view, 5> kRedirectedClasses = {
    u"CLSID", u"Interface", u"DirectShow", u"Media Type", u"MediaFoundation"};

// Calls onName with each name of a path of names separated by backslashes.
template <class TChar, class TOnName>
void ForEachName(std::basic_string_view<TChar> s, TOnName onName) {
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t stop = s.find(TChar('\\'), start);
        if (stop == std::basic_string_view<TChar>::npos) {
            stop = s.size();
        }
        if (stop > start) {
            onName(s.substr(start, stop - start));
        }
        start = stop + 1;
    }
}

std::vector<CName> SplitPath(std::u16string_view s) {
    std::vector<CName> out;
    ForEachName(s, [&out](std::u16string_view strName) { out.emplace_back(strName); });
    return out;
}

// The names of a key path into *pOut, whose strings are reused: opening keys one by one while
// walking a tree would otherwise allocate a path for every key.
LONG ParseSubKey(std::wstring_view s, std::vector<CName>* pOut) {
    if (!s.empty() && s[0] == L'\\') {
        return ERROR_BAD_PATHNAME;
    }
    std::size_t nNames = 0;
    ForEachName(s, [pOut, &nNames](std::wstring_view strName) {
        if (nNames == pOut->size()) {
            pOut->emplace_back();
        }
        Reg::ToName(strName, &(*pOut)[nNames++]);
    });
    pOut->resize(nNames);
    return ERROR_SUCCESS;
}

template <class TName>
bool StartsWith(const std::vector<TName>& path, const std::vector<CName>& prefix) {
    if (path.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!Reg::NamesEqual(path[i], prefix[i])) {
            return false;
        }
    }
    return true;
}

std::vector<CName> Join(std::vector<CName> a, const std::vector<CName>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

CKeyNode* Live(CKeyNode* p) {
    return (p != nullptr && !p->Has(Reg::kNodeDeleted)) ? p : nullptr;
}

void CountSubKey(const CKeyNode& child, CRegKeyInfo* pInfo) {
    ++pInfo->m_dwSubKeys;
    pInfo->m_dwMaxSubKeyLen =
        std::max(pInfo->m_dwMaxSubKeyLen, static_cast<DWORD>(child.Name().size()));
    if (child.Class() != nullptr) {
        pInfo->m_dwMaxClassLen =
            std::max(pInfo->m_dwMaxClassLen, static_cast<DWORD>(child.Class()->size()));
    }
}

void CountValue(const CValue& value, CRegKeyInfo* pInfo) {
    ++pInfo->m_dwValues;
    pInfo->m_dwMaxValueNameLen =
        std::max(pInfo->m_dwMaxValueNameLen, static_cast<DWORD>(value.m_strName.size()));
    pInfo->m_dwMaxValueLen =
        std::max(pInfo->m_dwMaxValueLen, static_cast<DWORD>(value.m_vData.size()));
}

void ClearDirty(CKeyNode* pNode) {
    if (!pNode->Has(Reg::kNodeDirty)) {
        return;
    }
    pNode->Set(Reg::kNodeDirty, false);
    for (std::size_t i = 0; i < pNode->ChildCount(); ++i) {
        if (!pNode->Child(i)->Has(Reg::kNodeMount)) {
            ClearDirty(pNode->Child(i));
        }
    }
}

}  // namespace

// ---- CRegistryCore ----

CRegistryCore::CRegistryCore(CRegistryLayout layout)
    : m_layout(std::move(layout)),
      m_vMachine({u"Machine"}),
      m_vUsers({u"User"}),
      m_vCurrentUser(SplitPath(Reg::ToName(m_layout.m_strCurrentUser))),
      m_vCurrentConfig(
          SplitPath(u"Machine\\System\\CurrentControlSet\\Hardware Profiles\\Current")),
      m_vMachineClasses(SplitPath(u"Machine\\Software\\Classes")),
      m_vUserClasses(SplitPath(Reg::ToName(m_layout.m_strUserClasses))),
      m_vCurrentUserClasses(
          Join(SplitPath(Reg::ToName(m_layout.m_strCurrentUser)), {u"Software", u"Classes"})),
      m_pRoot(std::make_unique<CKeyNode>(u"REGISTRY", Reg::FileTimeNow())) {}

CRegistryCore::~CRegistryCore() = default;

CRegistry CRegistryCore::Wrap(std::shared_ptr<CRegistryCore> pCore) {
    CRegistry registry;
    registry.m_pCore = std::move(pCore);
    return registry;
}

void CRegistryCore::Set64Bit(bool b64Bit) {
    std::lock_guard lock(m_mutex);
    m_layout.m_b64Bit = b64Bit;
}

void CRegistryCore::SetUserPlaces(const std::wstring& strCurrentUser,
                                  const std::wstring& strUserClasses) {
    std::lock_guard lock(m_mutex);
    m_layout.m_strCurrentUser = strCurrentUser;
    m_layout.m_strUserClasses = strUserClasses;
    m_vCurrentUser = SplitPath(Reg::ToName(strCurrentUser));
    m_vUserClasses = SplitPath(Reg::ToName(strUserClasses));
    m_vCurrentUserClasses = Join(SplitPath(Reg::ToName(strCurrentUser)), {u"Software", u"Classes"});
}

bool CRegistryCore::Is64Bit() const {
    return m_layout.m_b64Bit;
}

CStatus CRegistryCore::Mount(std::unique_ptr<Reg::IRegStore> pStore, const std::wstring& strPlace) {
    std::lock_guard lock(m_mutex);
    const std::vector<CName> place = SplitPath(Reg::ToName(strPlace));
    CKeyNode* parent = m_pRoot.get();
    for (std::size_t i = 0; i + 1 < place.size(); ++i) {
        CKeyNode* next = parent->FindChild(place[i]);
        if (next == nullptr) {
            next = parent->AddChild(place[i], Reg::FileTimeNow());
        }
        if (next->Has(Reg::kNodeMount)) {
            return {ERROR_INVALID_PARAMETER,
                    L"registry stores cannot be mounted inside each other: " + strPlace};
        }
        parent = next;
    }
    if (place.empty() || parent->FindChild(place.back()) != nullptr) {
        return {ERROR_INVALID_PARAMETER, L"the registry place is taken: " + strPlace};
    }
    auto root = std::make_unique<CKeyNode>(place.back(), Reg::FileTimeNow());
    root->Set(Reg::kNodeMount, true);
    CStatus status = pStore->Load(root.get(), &m_vWarnings);
    if (!status.Ok()) {
        return status;
    }
    CMount mount;
    mount.m_pStore = std::move(pStore);
    mount.m_vPlace = place;
    mount.m_pRoot = parent->AttachChild(std::move(root));
    m_vMounts.push_back(std::move(mount));
    return status;
}

CRegistryCore::CWalk CRegistryCore::Walk(const std::vector<CName>& vPath, int nLinkDepth,
                                         CKeyNode* pStart) {
    CWalk walk;
    CKeyNode* node = pStart != nullptr ? pStart : m_pRoot.get();
    for (std::size_t i = 0; i < vPath.size(); ++i) {
        CKeyNode* child = node->FindChild(vPath[i]);
        if (child == nullptr) {
            walk.m_pNode = node;
            walk.m_nMatched = i;
            return walk;
        }
        if (child->Has(Reg::kNodeLink) && (child = FollowLink(child, nLinkDepth)) == nullptr) {
            walk.m_eResult = EWalk::Broken;
            return walk;
        }
        node = child;
    }
    walk.m_eResult = EWalk::Found;
    walk.m_pNode = node;
    walk.m_nMatched = vPath.size();
    return walk;
}

CKeyNode* CRegistryCore::FollowLink(CKeyNode* pNode, int nLinkDepth) {
    const CValue* value = pNode->FindValue(kLinkValue);
    if (nLinkDepth >= kMaxLinkDepth || value == nullptr) {
        return nullptr;
    }
    CName target;
    for (std::size_t i = 0; i + 1 < value->m_vData.size(); i += 2) {
        target.push_back(static_cast<char16_t>(value->m_vData[i] | (value->m_vData[i + 1] << 8)));
    }
    constexpr std::u16string_view kPrefix = u"\\Registry\\";
    if (target.size() <= kPrefix.size() ||
        !Reg::NamesEqual(CNameView(target).substr(0, kPrefix.size()), kPrefix)) {
        return nullptr;
    }
    CWalk walk = Walk(SplitPath(CNameView(target).substr(kPrefix.size())), nLinkDepth + 1);
    return walk.m_eResult == EWalk::Found ? walk.m_pNode : nullptr;
}

std::vector<CName> CRegistryCore::AbsolutePath(const CKeyNode* pNode) const {
    std::vector<CName> path;
    for (; pNode != nullptr && pNode != m_pRoot.get(); pNode = pNode->Parent()) {
        path.push_back(pNode->Name());
    }
    std::reverse(path.begin(), path.end());
    return path;
}

bool CRegistryCore::Is32BitView(REGSAM sam) const {
    return m_layout.m_b64Bit && (sam & KEY_WOW64_32KEY) != 0 && (sam & KEY_WOW64_64KEY) == 0;
}

std::size_t CRegistryCore::RedirectAt(const std::vector<CNameView>& path, REGSAM sam) const {
    if (!Is32BitView(sam)) {
        return kNoRedirect;
    }
    auto classesAt = [&path](std::size_t i) {
        const bool bRedirected =
            i < path.size() &&
            std::any_of(kRedirectedClasses.begin(), kRedirectedClasses.end(),
                        [&](std::u16string_view n) { return Reg::NamesEqual(path[i], n); });
        return bRedirected ? i : kNoRedirect;
    };
    if (StartsWith(path, m_vMachineClasses)) {
        return classesAt(m_vMachineClasses.size());
    }
    if (m_layout.m_eClassesRoot == EClassesRoot::Merged &&
        (StartsWith(path, m_vUserClasses) || StartsWith(path, m_vCurrentUserClasses))) {
        return classesAt(StartsWith(path, m_vUserClasses) ? m_vUserClasses.size()
                                                          : m_vCurrentUserClasses.size());
    }
    if (path.size() >= 2 && Reg::NamesEqual(path[0], u"Machine") &&
        Reg::NamesEqual(path[1], u"Software") &&
        (path.size() == 2 || !Reg::NamesEqual(path[2], kWow6432Node))) {
        return 2;
    }
    return kNoRedirect;
}

void CRegistryCore::ApplyView(std::vector<CName>* pPath, REGSAM sam) const {
    const std::size_t i = RedirectAt(std::vector<CNameView>(pPath->begin(), pPath->end()), sam);
    if (i != kNoRedirect) {
        pPath->insert(pPath->begin() + static_cast<std::ptrdiff_t>(i), CName(kWow6432Node));
    }
}

bool CRegistryCore::IsRedirected(const CKeyNode* pBase, const std::vector<CName>& vRel,
                                 REGSAM sam) {
    if (!Is32BitView(sam)) {
        return false;
    }
    std::vector<CNameView>& path = m_vViewPath;
    path.clear();
    for (; pBase != nullptr && pBase != m_pRoot.get(); pBase = pBase->Parent()) {
        path.push_back(pBase->Name());
    }
    std::reverse(path.begin(), path.end());
    path.insert(path.end(), vRel.begin(), vRel.end());
    return RedirectAt(path, sam) != kNoRedirect;
}

const std::vector<CName>* CRegistryCore::RootPath(HKEY hRoot) const {
    switch (hRoot) {
        case HKEY_LOCAL_MACHINE:
            return &m_vMachine;
        case HKEY_USERS:
            return &m_vUsers;
        case HKEY_CURRENT_USER:
            return &m_vCurrentUser;
        case HKEY_CLASSES_ROOT:
            return &m_vMachineClasses;
        case HKEY_CURRENT_CONFIG:
            return &m_vCurrentConfig;
        default:
            return nullptr;
    }
}

void CRegistryCore::Hold(CRegKey::CState* pState, CRegKey* pOut) {
    for (CKeyNode* node : {pState->m_pNode, pState->m_pMachine}) {
        if (node != nullptr) {
            ++node->m_nHandles;
        }
    }
    pState->m_pCore = shared_from_this();
    pOut->m_pState = std::make_unique<CRegKey::CState>(std::move(*pState));
}

void CRegistryCore::Release(CRegKey::CState* pKey) {
    std::lock_guard lock(m_mutex);
    for (CKeyNode* node : {pKey->m_pNode, pKey->m_pMachine}) {
        if (node != nullptr) {
            Reg::ReleaseNode(node);
        }
    }
    pKey->m_pNode = pKey->m_pMachine = nullptr;
}

LONG CRegistryCore::OpenRoot(HKEY hRoot, CRegKey* pOut) {
    std::lock_guard lock(m_mutex);
    CRegKey::CState state;
    const LONG result = RootState(hRoot, &state);
    if (result == ERROR_SUCCESS) {
        Hold(&state, pOut);
    }
    return result;
}

LONG CRegistryCore::RootState(HKEY hRoot, CRegKey::CState* pState) {
    if (hRoot == HKEY_CLASSES_ROOT && m_layout.m_eClassesRoot == EClassesRoot::Merged) {
        return OpenMerged({}, 0, false, pState, nullptr);
    }
    const std::vector<CName>* pPath = RootPath(hRoot);
    if (pPath == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const CWalk walk = Walk(*pPath, 0);
    if (walk.m_eResult != EWalk::Found) {
        return ERROR_FILE_NOT_FOUND;
    }
    pState->m_pNode = walk.m_pNode;
    return ERROR_SUCCESS;
}

LONG CRegistryCore::OpenFromRoot(HKEY hRoot, const std::wstring& strSubKey, REGSAM sam,
                                 bool bCreate, CRegKey* pOut, bool* pbCreated) {
    std::lock_guard lock(m_mutex);
    CRegKey::CState root;
    const LONG result = RootState(hRoot, &root);
    return result == ERROR_SUCCESS ? OpenLocked(root, strSubKey, sam, bCreate, pOut, pbCreated)
                                   : result;
}

LONG CRegistryCore::CreateRest(const std::vector<CName>& vPath, const CWalk& walk,
                               CKeyNode** ppOut) {
    CKeyNode* node = walk.m_pNode;
    if (MountOf(node) == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    if (vPath.size() > kMaxDepth) {
        return ERROR_INVALID_PARAMETER;
    }
    for (std::size_t i = walk.m_nMatched; i < vPath.size(); ++i) {
        if (vPath[i].size() > kMaxKeyNameLen) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    const std::uint64_t now = Reg::FileTimeNow();
    node->m_qwTime = now;
    for (std::size_t i = walk.m_nMatched; i < vPath.size(); ++i) {
        node = node->AddChild(vPath[i], now);
    }
    MarkDirty(node);
    ++m_nGeneration;
    *ppOut = node;
    return ERROR_SUCCESS;
}

LONG CRegistryCore::OpenMerged(std::vector<CName> vRel, REGSAM sam, bool bCreate,
                               CRegKey::CState* pOut, bool* pbCreated) {
    std::vector<CName> userPath = Join(m_vUserClasses, vRel);
    std::vector<CName> machinePath = Join(m_vMachineClasses, vRel);
    ApplyView(&userPath, sam);
    ApplyView(&machinePath, sam);
    const CWalk user = Walk(userPath, 0);
    const CWalk machine = Walk(machinePath, 0);
    pOut->m_bMerged = true;
    pOut->m_vClassPath = std::move(vRel);
    pOut->m_pNode = user.m_eResult == EWalk::Found ? user.m_pNode : nullptr;
    pOut->m_pMachine = machine.m_eResult == EWalk::Found ? machine.m_pNode : nullptr;
    if (pbCreated != nullptr) {
        *pbCreated = false;
    }
    if (pOut->m_pNode != nullptr || pOut->m_pMachine != nullptr) {
        return ERROR_SUCCESS;
    }
    if (!bCreate) {
        return ERROR_FILE_NOT_FOUND;
    }
    // A new key goes to the machine, unless only the user's classes hold its parent.
    auto parentExists = [](const CWalk& w, const std::vector<CName>& p) {
        return w.m_eResult == EWalk::Missing && w.m_nMatched + 1 == p.size();
    };
    const bool toUser = parentExists(user, userPath) && !parentExists(machine, machinePath);
    const CWalk& walk = toUser ? user : machine;
    if (walk.m_eResult == EWalk::Broken) {
        return ERROR_FILE_NOT_FOUND;
    }
    CKeyNode* node = nullptr;
    const LONG result = CreateRest(toUser ? userPath : machinePath, walk, &node);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    (toUser ? pOut->m_pNode : pOut->m_pMachine) = node;
    if (pbCreated != nullptr) {
        *pbCreated = true;
    }
    return ERROR_SUCCESS;
}

LONG CRegistryCore::Open(const CRegKey::CState& base, const std::wstring& strSubKey, REGSAM sam,
                         bool bCreate, CRegKey* pOut, bool* pbCreated) {
    std::lock_guard lock(m_mutex);
    return OpenLocked(base, strSubKey, sam, bCreate, pOut, pbCreated);
}

LONG CRegistryCore::OpenLocked(const CRegKey::CState& base, const std::wstring& strSubKey,
                               REGSAM sam, bool bCreate, CRegKey* pOut, bool* pbCreated) {
    CRegKey::CState state;
    CKeyNode* pEnumerated = bCreate ? nullptr : EnumeratedChild(base, strSubKey);
    if (pEnumerated != nullptr && !IsRedirected(pEnumerated, {}, sam)) {
        // What Walk does with the last name of a path.
        state.m_pNode = pEnumerated->Has(Reg::kNodeLink) ? FollowLink(pEnumerated, 0) : pEnumerated;
        if (state.m_pNode == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        Hold(&state, pOut);
        return ERROR_SUCCESS;
    }
    std::vector<CName>& rel = m_vRelPath;
    LONG result = ParseSubKey(strSubKey, &rel);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (base.m_bMerged) {
        if (Live(base.m_pNode) == nullptr && Live(base.m_pMachine) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        result = OpenMerged(Join(base.m_vClassPath, rel), sam, bCreate, &state, pbCreated);
    } else {
        CKeyNode* pBase = Live(base.m_pNode);
        if (pBase == nullptr) {
            return ERROR_KEY_DELETED;
        }
        result = OpenBelow(pBase, rel, sam, bCreate, &state.m_pNode, pbCreated);
    }
    if (result == ERROR_SUCCESS) {
        Hold(&state, pOut);
    }
    return result;
}

CKeyNode* CRegistryCore::EnumeratedChild(const CRegKey::CState& base,
                                         const std::wstring& strName) const {
    CKeyNode* child = base.m_pEnumerated;
    if (child == nullptr || base.m_nEnumeratedGeneration != m_nGeneration ||
        Live(base.m_pNode) == nullptr || child->Name().size() != strName.size()) {
        return nullptr;
    }
    std::uint32_t nDiffers = 0;  // no early exit: the loop is vectorised
    for (std::size_t i = 0; i < strName.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(strName[i]);
        nDiffers |= (c ^ child->Name()[i]) | (c == L'\\' ? 1u : 0u);
    }
    return nDiffers == 0 ? child : nullptr;
}

LONG CRegistryCore::OpenBelow(CKeyNode* pBase, const std::vector<CName>& vRel, REGSAM sam,
                              bool bCreate, CKeyNode** ppOut, bool* pbCreated) {
    if (pbCreated != nullptr) {
        *pbCreated = false;
    }
    if (!bCreate && !IsRedirected(pBase, vRel, sam)) {
        // The key the whole path from the root leads to, found without walking down to the base
        // again: a recursive walk opens every key below the one before it.
        const CWalk walk = Walk(vRel, 0, pBase);
        if (walk.m_eResult != EWalk::Found) {
            return ERROR_FILE_NOT_FOUND;
        }
        *ppOut = walk.m_pNode;
        return ERROR_SUCCESS;
    }
    std::vector<CName> path = Join(AbsolutePath(pBase), vRel);
    ApplyView(&path, sam);
    const CWalk walk = Walk(path, 0);
    if (walk.m_eResult == EWalk::Found) {
        *ppOut = walk.m_pNode;
        return ERROR_SUCCESS;
    }
    if (walk.m_eResult == EWalk::Broken || !bCreate) {
        return ERROR_FILE_NOT_FOUND;
    }
    const LONG result = CreateRest(path, walk, ppOut);
    if (result == ERROR_SUCCESS && pbCreated != nullptr) {
        *pbCreated = true;
    }
    return result;
}

CRegistryCore::CMount* CRegistryCore::MountOf(const CKeyNode* pNode) {
    for (; pNode != nullptr; pNode = pNode->Parent()) {
        if (pNode->Has(Reg::kNodeMount)) {
            for (CMount& mount : m_vMounts) {
                if (mount.m_pRoot == pNode) {
                    return &mount;
                }
            }
            return nullptr;
        }
    }
    return nullptr;
}

void CRegistryCore::MarkDirty(CKeyNode* pNode) {
    for (; pNode != nullptr; pNode = pNode->Parent()) {
        pNode->Set(Reg::kNodeDirty, true);
        if (pNode->Has(Reg::kNodeMount)) {
            if (CMount* mount = MountOf(pNode)) {
                mount->m_bDirty = true;
            }
            return;
        }
    }
}

void CRegistryCore::Touch(CKeyNode* pNode) {
    pNode->m_qwTime = Reg::FileTimeNow();
    MarkDirty(pNode);
    ++m_nGeneration;
}

bool CRegistryCore::IsProtected(const CKeyNode* pNode) {
    if (pNode->Has(Reg::kNodeMount) || MountOf(pNode) == nullptr) {
        return true;
    }
    for (const HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG}) {
        const CWalk walk = Walk(*RootPath(root), 0);
        if (walk.m_eResult == EWalk::Found && walk.m_pNode == pNode) {
            return true;
        }
    }
    const CWalk user = Walk(m_vUserClasses, 0);
    return user.m_eResult == EWalk::Found && user.m_pNode == pNode;
}

LONG CRegistryCore::DeleteNode(CKeyNode* pNode, bool bTree) {
    if (IsProtected(pNode)) {
        return ERROR_ACCESS_DENIED;
    }
    if (!bTree && pNode->ChildCount() > 0) {
        return ERROR_ACCESS_DENIED;
    }
    CKeyNode* parent = pNode->Parent();
    Touch(parent);
    Reg::DestroySubtree(parent->DetachChild(pNode));
    return ERROR_SUCCESS;
}

LONG CRegistryCore::Delete(const CRegKey::CState& base, const std::wstring& strSubKey, REGSAM sam,
                           bool bTree) {
    std::lock_guard lock(m_mutex);
    std::vector<CName> rel;
    const LONG result = ParseSubKey(strSubKey, &rel);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (base.m_bMerged) {
        if (Live(base.m_pNode) == nullptr && Live(base.m_pMachine) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        CRegKey::CState state;
        const LONG open = OpenMerged(Join(base.m_vClassPath, rel), sam, false, &state, nullptr);
        if (open != ERROR_SUCCESS) {
            return open;
        }
        return DeleteNode(state.m_pNode != nullptr ? state.m_pNode : state.m_pMachine, bTree);
    }
    if (Live(base.m_pNode) == nullptr) {
        return ERROR_KEY_DELETED;
    }
    std::vector<CName> path = Join(AbsolutePath(base.m_pNode), rel);
    ApplyView(&path, sam);
    const CWalk walk = Walk(path, 0);
    if (walk.m_eResult != EWalk::Found) {
        return ERROR_FILE_NOT_FOUND;
    }
    return DeleteNode(walk.m_pNode, bTree);
}

void CRegistryCore::BuildLists(CRegKey::CState& key) {
    if (key.m_nListGeneration == m_nGeneration) {
        return;
    }
    key.m_nListGeneration = m_nGeneration;
    key.m_vKeyList.clear();
    key.m_vValueList.clear();
    const CKeyNode* user = Live(key.m_pNode);
    const CKeyNode* machine = Live(key.m_pMachine);
    std::size_t i = 0;
    std::size_t j = 0;
    const std::size_t nu = user != nullptr ? user->ChildCount() : 0;
    const std::size_t nm = machine != nullptr ? machine->ChildCount() : 0;
    while (i < nu || j < nm) {
        const int cmp = i == nu ? 1
                        : j == nm
                            ? -1
                            : Reg::CompareNames(user->Child(i)->Name(), machine->Child(j)->Name());
        key.m_vKeyList.push_back(cmp <= 0 ? user->Child(i) : machine->Child(j));
        i += cmp <= 0 ? 1 : 0;
        j += cmp >= 0 ? 1 : 0;
    }
    if (user != nullptr) {
        for (const CValue& v : user->Values()) {
            key.m_vValueList.push_back(&v);
        }
    }
    if (machine != nullptr) {
        for (const CValue& v : machine->Values()) {
            if (user == nullptr || user->FindValue(v.m_strName) == nullptr) {
                key.m_vValueList.push_back(&v);
            }
        }
    }
}

LONG CRegistryCore::EnumKey(CRegKey::CState& key, DWORD dwIndex, std::wstring* psName,
                            DWORD dwCapacity) {
    std::lock_guard lock(m_mutex);
    const CKeyNode* child = nullptr;
    if (key.m_bMerged) {
        if (Live(key.m_pNode) == nullptr && Live(key.m_pMachine) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        BuildLists(key);
        if (dwIndex >= key.m_vKeyList.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        child = key.m_vKeyList[dwIndex];
    } else {
        const CKeyNode* node = Live(key.m_pNode);
        if (node == nullptr) {
            return ERROR_KEY_DELETED;
        }
        if (dwIndex >= node->ChildCount()) {
            return ERROR_NO_MORE_ITEMS;
        }
        key.m_pEnumerated = node->Child(dwIndex);
        key.m_nEnumeratedGeneration = m_nGeneration;
        child = key.m_pEnumerated;
    }
    if (child->Name().size() >= dwCapacity) {
        return ERROR_MORE_DATA;
    }
    Reg::ToWide(child->Name(), psName);
    return ERROR_SUCCESS;
}

LONG CRegistryCore::EnumValue(CRegKey::CState& key, DWORD dwIndex, CRegValue* pValue,
                              DWORD dwNameCapacity, DWORD dwDataCapacity) {
    std::lock_guard lock(m_mutex);
    const CValue* value = nullptr;
    if (key.m_bMerged) {
        if (Live(key.m_pNode) == nullptr && Live(key.m_pMachine) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        BuildLists(key);
        if (dwIndex >= key.m_vValueList.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        value = key.m_vValueList[dwIndex];
    } else {
        const CKeyNode* node = Live(key.m_pNode);
        if (node == nullptr) {
            return ERROR_KEY_DELETED;
        }
        if (dwIndex >= node->Values().size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        value = &node->Values()[dwIndex];
    }
    if (value->m_strName.size() >= dwNameCapacity || value->m_vData.size() > dwDataCapacity) {
        return ERROR_MORE_DATA;
    }
    Reg::ToWide(value->m_strName, &pValue->m_strName);
    pValue->m_dwType = value->m_dwType;
    pValue->m_vData = value->m_vData;
    return ERROR_SUCCESS;
}

LONG CRegistryCore::QueryInfo(CRegKey::CState& key, CRegKeyInfo* pInfo) {
    std::lock_guard lock(m_mutex);
    CRegKeyInfo info;
    if (key.m_bMerged) {
        if (Live(key.m_pNode) == nullptr && Live(key.m_pMachine) == nullptr) {
            return ERROR_KEY_DELETED;
        }
        BuildLists(key);
        for (const CKeyNode* child : key.m_vKeyList) {
            CountSubKey(*child, &info);
        }
        for (const CValue* v : key.m_vValueList) {
            CountValue(*v, &info);
        }
        for (const CKeyNode* node : {Live(key.m_pNode), Live(key.m_pMachine)}) {
            info.m_qwLastWriteTime =
                std::max(info.m_qwLastWriteTime, node != nullptr ? node->m_qwTime : 0);
        }
    } else {
        const CKeyNode* node = Live(key.m_pNode);
        if (node == nullptr) {
            return ERROR_KEY_DELETED;
        }
        info.m_dwSubKeys = static_cast<DWORD>(node->ChildCount());
        info.m_dwMaxSubKeyLen = node->MaxChildNameLen();
        info.m_dwMaxClassLen = node->MaxChildClassLen();
        for (const CValue& v : node->Values()) {
            CountValue(v, &info);
        }
        info.m_qwLastWriteTime = node->m_qwTime;
    }
    *pInfo = info;
    return ERROR_SUCCESS;
}

LONG CRegistryCore::QueryValue(const CRegKey::CState& key, const std::wstring& strName,
                               DWORD* pdwType, CRegBytes* pvData, DWORD dwCapacity) {
    std::lock_guard lock(m_mutex);
    CKeyNode* first = Live(key.m_pNode);
    CKeyNode* second = Live(key.m_pMachine);
    if (first == nullptr && second == nullptr) {
        return ERROR_KEY_DELETED;
    }
    const CName name = Reg::ToName(strName);
    const CValue* value = first != nullptr ? first->FindValue(name) : nullptr;
    if (value == nullptr && second != nullptr) {
        value = second->FindValue(name);
    }
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    *pdwType = value->m_dwType;
    if (value->m_vData.size() > dwCapacity) {
        pvData->clear();
        return ERROR_MORE_DATA;
    }
    *pvData = value->m_vData;
    return ERROR_SUCCESS;
}

CKeyNode* CRegistryCore::WriteNode(const CRegKey::CState& key) {
    CKeyNode* user = Live(key.m_pNode);
    return user != nullptr ? user : Live(key.m_pMachine);
}

LONG CRegistryCore::SetValue(const CRegKey::CState& key, const std::wstring& strName, DWORD dwType,
                             const CRegBytes& vData) {
    std::lock_guard lock(m_mutex);
    CKeyNode* node = WriteNode(key);
    if (node == nullptr) {
        return ERROR_KEY_DELETED;
    }
    if (MountOf(node) == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    const CName name = Reg::ToName(strName);
    if (name.size() > kMaxValueNameLen) {
        return ERROR_INVALID_PARAMETER;
    }
    if (node->SetValue(name, dwType, vData)) {
        Touch(node);
    }
    return ERROR_SUCCESS;
}

LONG CRegistryCore::DeleteValue(const CRegKey::CState& key, const std::wstring& strName) {
    std::lock_guard lock(m_mutex);
    CKeyNode* first = Live(key.m_pNode);
    CKeyNode* second = Live(key.m_pMachine);
    if (first == nullptr && second == nullptr) {
        return ERROR_KEY_DELETED;
    }
    const CName name = Reg::ToName(strName);
    CKeyNode* node = first != nullptr && first->FindValue(name) != nullptr ? first : second;
    if (node == nullptr || node->FindValue(name) == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (MountOf(node) == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    node->DeleteValue(name);
    Touch(node);
    return ERROR_SUCCESS;
}

std::wstring CRegistryCore::GetPath(const CRegKey::CState& key) {
    std::lock_guard lock(m_mutex);
    // Names are gathered by reference and converted into one buffer: a backup asks this of every
    // key it saves.
    std::vector<const CName*> names;
    std::wstring out;
    if (key.m_bMerged) {
        out = L"HKEY_CLASSES_ROOT";
        for (const CName& name : key.m_vClassPath) {
            names.push_back(&name);
        }
    } else {
        if (Live(key.m_pNode) == nullptr) {
            return {};
        }
        for (const CKeyNode* pNode = key.m_pNode; pNode != nullptr && pNode != m_pRoot.get();
             pNode = pNode->Parent()) {
            names.push_back(&pNode->Name());
        }
        std::reverse(names.begin(), names.end());
        if (!names.empty() && (*names[0] == u"Machine" || *names[0] == u"User")) {
            out = *names[0] == u"Machine" ? L"HKEY_LOCAL_MACHINE" : L"HKEY_USERS";
            names.erase(names.begin());
        }
    }
    std::size_t nLength = out.size();
    for (const CName* pName : names) {
        nLength += pName->size() + 1;
    }
    out.reserve(nLength);
    std::wstring strName;
    for (const CName* pName : names) {
        if (!out.empty()) {
            out.push_back(L'\\');
        }
        Reg::ToWide(*pName, &strName);
        out += strName;
    }
    return out;
}

bool CRegistryCore::IsDirty() {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_vMounts.begin(), m_vMounts.end(),
                       [](const CMount& m) { return m.m_bDirty; });
}

CStatus CRegistryCore::CheckWritable() {
    std::lock_guard lock(m_mutex);
    for (const CMount& mount : m_vMounts) {
        if (CStatus status = mount.m_pStore->CheckWritable(); !status.Ok()) {
            return status;
        }
    }
    return {};
}

CStatus CRegistryCore::CheckStoresOf(
    HKEY hRoot, const std::wstring& strPath, REGSAM sam,
    const std::function<CStatus(const Reg::IRegStore&, const CKeyNode&)>& check) {
    CRegKey key;
    if (Wrap(shared_from_this()).OpenKey(hRoot, strPath, sam, &key) != ERROR_SUCCESS) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    for (CKeyNode* node : {Live(key.m_pState->m_pNode), Live(key.m_pState->m_pMachine)}) {
        const CMount* mount = node != nullptr ? MountOf(node) : nullptr;
        if (mount == nullptr) {
            continue;
        }
        if (CStatus status = check(*mount->m_pStore, *node); !status.Ok()) {
            return status;
        }
    }
    return {};
}

CStatus CRegistryCore::CheckWritable(HKEY hRoot, const std::wstring& strPath, REGSAM sam) {
    return CheckStoresOf(hRoot, strPath, sam, [](const Reg::IRegStore& store, const CKeyNode&) {
        return store.CheckStoreWritable();
    });
}

CStatus CRegistryCore::CheckRestorable(HKEY hRoot, const std::wstring& strPath, REGSAM sam,
                                       bool bWhole) {
    return CheckStoresOf(hRoot, strPath, sam,
                         [bWhole](const Reg::IRegStore& store, const CKeyNode& node) {
                             return store.CheckRestorable(node, bWhole);
                         });
}

std::pair<HKEY, std::wstring> CRegistryCore::HomeOf(HKEY hRoot, const std::wstring& strPath,
                                                    REGSAM sam, const std::wstring* pstrValue) {
    CRegKey key;
    if (hRoot != HKEY_CLASSES_ROOT ||
        Wrap(shared_from_this()).OpenKey(hRoot, strPath, sam, &key) != ERROR_SUCCESS) {
        return {hRoot, strPath};
    }
    std::lock_guard lock(m_mutex);
    if (!key.m_pState->m_bMerged) {
        return {hRoot, strPath};
    }
    // As a delete through the merged root chooses: the user's key (or the user's value), else
    // the machine's.
    const CKeyNode* user = Live(key.m_pState->m_pNode);
    const CKeyNode* machine = Live(key.m_pState->m_pMachine);
    const bool bUser = user != nullptr && (pstrValue == nullptr || machine == nullptr ||
                                           user->FindValue(Reg::ToName(*pstrValue)) != nullptr);
    const std::wstring strBelow = strPath.empty() ? L"" : L"\\" + strPath;
    return bUser ? std::pair{HKEY_CURRENT_USER, L"Software\\Classes" + strBelow}
                 : std::pair{HKEY_LOCAL_MACHINE, L"Software\\Classes" + strBelow};
}

// Every dirty store is prepared even after one refuses, so that the refusal names each file
// that cannot be written, not only the first.
CStatus CRegistryCore::Flush(const std::string& strKeepOriginalsIn) {
    std::lock_guard lock(m_mutex);
    std::vector<CMount*> dirty;
    for (CMount& mount : m_vMounts) {
        if (mount.m_bDirty) {
            dirty.push_back(&mount);
        }
    }
    CStatus refused;
    for (CMount* mount : dirty) {
        mount->m_pStore->KeepOriginalsIn(strKeepOriginalsIn);
        CStatus status = mount->m_pStore->Prepare(*mount->m_pRoot);
        mount->m_pStore->KeepOriginalsIn({});
        if (!status.Ok()) {
            refused.m_lCode = refused.Ok() ? status.m_lCode : refused.m_lCode;
            refused.m_strText += (refused.m_strText.empty() ? L"" : L" ") + status.m_strText;
        }
    }
    if (!refused.Ok()) {
        for (CMount* mount : dirty) {
            mount->m_pStore->Abort();
        }
        return refused;
    }
    for (std::size_t i = 0; i < dirty.size(); ++i) {
        CStatus status = dirty[i]->m_pStore->Commit();
        if (!status.Ok()) {
            for (std::size_t k = i + 1; k < dirty.size(); ++k) {
                dirty[k]->m_pStore->Abort();
            }
            return status;
        }
        ClearDirty(dirty[i]->m_pRoot);
        dirty[i]->m_bDirty = false;
    }
    return {};
}

bool CRegistryCore::ChangedOnDisk() {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_vMounts.begin(), m_vMounts.end(),
                       [](const CMount& mount) { return mount.m_pStore->ChangedOnDisk(); });
}

CStatus CRegistryCore::WriteBackRecovered(const std::string& strKeepOriginalsIn,
                                          std::vector<std::wstring>* pApplied) {
    {
        std::lock_guard lock(m_mutex);
        for (CMount& mount : m_vMounts) {
            const std::wstring applied = mount.m_pStore->PendingRecovery();
            if (!applied.empty()) {
                pApplied->push_back(applied);
                mount.m_bDirty = true;
            }
        }
    }
    return Flush(strKeepOriginalsIn);
}

CStatus CRegistryCore::Reload() {
    std::lock_guard lock(m_mutex);
    std::vector<std::unique_ptr<CKeyNode>> fresh;
    std::vector<std::wstring> warnings;
    for (CMount& mount : m_vMounts) {
        auto root = std::make_unique<CKeyNode>(mount.m_vPlace.back(), Reg::FileTimeNow());
        root->Set(Reg::kNodeMount, true);
        CStatus status = mount.m_pStore->Load(root.get(), &warnings);
        if (!status.Ok()) {
            return status;
        }
        fresh.push_back(std::move(root));
    }
    for (std::size_t i = 0; i < m_vMounts.size(); ++i) {
        CMount& mount = m_vMounts[i];
        CKeyNode* parent = mount.m_pRoot->Parent();
        std::unique_ptr<CKeyNode> old = parent->DetachChild(mount.m_pRoot);
        mount.m_pRoot = parent->AttachChild(std::move(fresh[i]));
        mount.m_bDirty = false;
        Reg::DestroySubtree(std::move(old));
    }
    m_vWarnings = std::move(warnings);
    ++m_nGeneration;
    return {};
}

std::vector<std::wstring> CRegistryCore::LoadWarnings() {
    std::lock_guard lock(m_mutex);
    return m_vWarnings;
}

namespace {

void MergeInto(CKeyNode* pDst, const CKeyNode& src) {
    for (const CValue& v : src.Values()) {
        pDst->SetValue(v.m_strName, v.m_dwType, v.m_vData);
    }
    if (src.Class() != nullptr) {
        pDst->SetClass(*src.Class());
    }
    if (src.Has(Reg::kNodeLink)) {
        pDst->Set(Reg::kNodeLink, true);
    }
    pDst->m_qwTime = src.m_qwTime;
    pDst->Set(Reg::kNodeDirty, true);
    for (std::size_t i = 0; i < src.ChildCount(); ++i) {
        bool added = false;
        MergeInto(pDst->FindOrAddChild(src.Child(i)->Name(), 0, &added), *src.Child(i));
    }
}

}  // namespace

CStatus CRegistryCore::ImportText(HKEY hRoot, std::string_view strText) {
    std::lock_guard lock(m_mutex);
    const std::vector<CName>* pPath = RootPath(hRoot);
    if (pPath == nullptr) {
        return {ERROR_INVALID_HANDLE, L"unknown root key"};
    }
    const CWalk walk = Walk(*pPath, 0);
    if (walk.m_eResult != EWalk::Found) {
        return {ERROR_FILE_NOT_FOUND, L"the root key does not exist in this registry"};
    }
    if (MountOf(walk.m_pNode) == nullptr) {
        return {ERROR_ACCESS_DENIED, L"the root key belongs to no store"};
    }
    CKeyNode parsed(u"");
    Reg::CLineReader reader(strText);
    Reg::CWineParseOptions options;
    options.m_strFileName = "text";
    options.m_bRequireMagic = false;
    options.m_qwLoadTime = Reg::FileTimeNow();
    const Reg::CWineParseResult result = Reg::ParseWineText(&reader, &parsed, options);
    if (!result.m_status.Ok()) {
        return result.m_status;
    }
    if (result.m_nWarnings > 0) {
        return {ERROR_INVALID_DATA, result.m_vWarnings.front()};
    }
    parsed.m_qwTime = walk.m_pNode->m_qwTime;
    MergeInto(walk.m_pNode, parsed);
    MarkDirty(walk.m_pNode);
    ++m_nGeneration;
    return {};
}

std::string CRegistryCore::ExportText(HKEY hRoot, const std::wstring& strPath) {
    CRegKey root;
    CRegKey key;
    if (OpenRoot(hRoot, &root) != ERROR_SUCCESS ||
        root.OpenKey(strPath, 0, &key) != ERROR_SUCCESS) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    const CKeyNode* node = WriteNode(*key.m_pState);
    if (node == nullptr) {
        return {};
    }
    Reg::CTextOut out;
    Reg::CWineWriteOptions options;
    options.m_bTimes = false;
    Reg::WriteWineText(*node, options, &out);
    return std::move(out.Text());
}

// ---- CRegKey ----

CRegKey::CRegKey() = default;

CRegKey::~CRegKey() {
    Close();
}

CRegKey::CRegKey(CRegKey&& other) noexcept : m_pState(std::move(other.m_pState)) {}

CRegKey& CRegKey::operator=(CRegKey&& other) noexcept {
    if (this != &other) {
        Close();
        m_pState = std::move(other.m_pState);
    }
    return *this;
}

bool CRegKey::IsOpen() const {
    return m_pState != nullptr;
}

void CRegKey::Close() {
    if (m_pState != nullptr) {
        m_pState->m_pCore->Release(m_pState.get());
        m_pState.reset();
    }
}

LONG CRegKey::OpenKey(const std::wstring& strSubKey, REGSAM sam, CRegKey* pOut) const {
    CRegKey key;
    const LONG result = m_pState == nullptr ? ERROR_INVALID_HANDLE
                                            : m_pState->m_pCore->Open(*m_pState, strSubKey, sam,
                                                                      false, &key, nullptr);
    *pOut = std::move(key);
    return result;
}

LONG CRegKey::CreateKey(const std::wstring& strSubKey, REGSAM sam, CRegKey* pOut,
                        bool* pbCreated) const {
    CRegKey key;
    const LONG result = m_pState == nullptr ? ERROR_INVALID_HANDLE
                                            : m_pState->m_pCore->Open(*m_pState, strSubKey, sam,
                                                                      true, &key, pbCreated);
    *pOut = std::move(key);
    return result;
}

LONG CRegKey::DeleteKey(const std::wstring& strSubKey, REGSAM sam) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->Delete(*m_pState, strSubKey, sam, false);
}

LONG CRegKey::DeleteTree(const std::wstring& strSubKey, REGSAM sam) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->Delete(*m_pState, strSubKey, sam, true);
}

LONG CRegKey::EnumKey(DWORD dwIndex, std::wstring* psName, DWORD dwCapacity) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->EnumKey(*m_pState, dwIndex, psName, dwCapacity);
}

LONG CRegKey::EnumValue(DWORD dwIndex, CRegValue* pValue, DWORD dwNameCapacity,
                        DWORD dwDataCapacity) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->EnumValue(*m_pState, dwIndex, pValue,
                                                              dwNameCapacity, dwDataCapacity);
}

LONG CRegKey::QueryInfo(CRegKeyInfo* pInfo) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->QueryInfo(*m_pState, pInfo);
}

LONG CRegKey::QueryValue(const std::wstring& strName, DWORD* pdwType, CRegBytes* pvData,
                         DWORD dwCapacity) const {
    return m_pState == nullptr
               ? ERROR_INVALID_HANDLE
               : m_pState->m_pCore->QueryValue(*m_pState, strName, pdwType, pvData, dwCapacity);
}

LONG CRegKey::SetValue(const std::wstring& strName, DWORD dwType, const CRegBytes& vData) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->SetValue(*m_pState, strName, dwType, vData);
}

LONG CRegKey::DeleteValue(const std::wstring& strName) const {
    return m_pState == nullptr ? ERROR_INVALID_HANDLE
                               : m_pState->m_pCore->DeleteValue(*m_pState, strName);
}

std::wstring CRegKey::GetPath() const {
    return m_pState == nullptr ? std::wstring() : m_pState->m_pCore->GetPath(*m_pState);
}

// ---- CRegistry ----

CRegistry::CRegistry() = default;

bool CRegistry::IsValid() const {
    return m_pCore != nullptr;
}

CRegistry CRegistry::CreateInMemory(const CMemoryRegistryOptions& options) {
    CRegistryLayout layout;
    layout.m_b64Bit = options.m_b64Bit;
    layout.m_eClassesRoot = options.m_eClassesRoot;
    auto core = std::make_shared<CRegistryCore>(layout);
    for (const wchar_t* place : {L"Machine", L"User\\.Default", L"User\\S-1-5-21-0-0-0-1000"}) {
        core->Mount(std::make_unique<Reg::CMemoryStore>(), place);
    }
    core->ImportText(HKEY_LOCAL_MACHINE, "[Software\\\\Classes]");
    core->ImportText(HKEY_CURRENT_USER, "[Software\\\\Classes]");
    core->Flush();
    return CRegistryCore::Wrap(std::move(core));
}

bool CRegistry::Is64Bit() const {
    return m_pCore != nullptr && m_pCore->Is64Bit();
}

LONG CRegistry::OpenRoot(HKEY hRoot, CRegKey* pOut) const {
    CRegKey key;
    const LONG result = m_pCore == nullptr ? ERROR_INVALID_HANDLE : m_pCore->OpenRoot(hRoot, &key);
    *pOut = std::move(key);
    return result;
}

LONG CRegistry::OpenKey(HKEY hRoot, const std::wstring& strPath, REGSAM sam, CRegKey* pOut) const {
    CRegKey key;
    const LONG result = m_pCore == nullptr
                            ? ERROR_INVALID_HANDLE
                            : m_pCore->OpenFromRoot(hRoot, strPath, sam, false, &key, nullptr);
    *pOut = std::move(key);
    return result;
}

LONG CRegistry::CreateKey(HKEY hRoot, const std::wstring& strPath, REGSAM sam, CRegKey* pOut,
                          bool* pbCreated) const {
    CRegKey key;
    const LONG result = m_pCore == nullptr
                            ? ERROR_INVALID_HANDLE
                            : m_pCore->OpenFromRoot(hRoot, strPath, sam, true, &key, pbCreated);
    *pOut = std::move(key);
    return result;
}

LONG CRegistry::DeleteKey(HKEY hRoot, const std::wstring& strPath, REGSAM sam) const {
    CRegKey root;
    const LONG result = OpenRoot(hRoot, &root);
    return result != ERROR_SUCCESS ? result : root.DeleteKey(strPath, sam);
}

LONG CRegistry::DeleteTree(HKEY hRoot, const std::wstring& strPath, REGSAM sam) const {
    CRegKey root;
    const LONG result = OpenRoot(hRoot, &root);
    return result != ERROR_SUCCESS ? result : root.DeleteTree(strPath, sam);
}

bool CRegistry::IsDirty() const {
    return m_pCore != nullptr && m_pCore->IsDirty();
}

CStatus CRegistry::CheckWritable() const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"}
                              : m_pCore->CheckWritable();
}

CStatus CRegistry::Flush() const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"} : m_pCore->Flush();
}

bool CRegistry::ChangedOnDisk() const {
    return m_pCore != nullptr && m_pCore->ChangedOnDisk();
}

CStatus CRegistry::Flush(const std::string& strKeepOriginalsIn) const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"}
                              : m_pCore->Flush(strKeepOriginalsIn);
}

CStatus CRegistry::CheckWritable(HKEY hRoot, const std::wstring& strPath, REGSAM sam) const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"}
                              : m_pCore->CheckWritable(hRoot, strPath, sam);
}

CStatus CRegistry::CheckRestorable(HKEY hRoot, const std::wstring& strPath, REGSAM sam,
                                   bool bWhole) const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"}
                              : m_pCore->CheckRestorable(hRoot, strPath, sam, bWhole);
}

std::pair<HKEY, std::wstring> CRegistry::HomeOf(HKEY hRoot, const std::wstring& strPath, REGSAM sam,
                                                const std::wstring* pstrValue) const {
    return m_pCore == nullptr ? std::pair{hRoot, strPath}
                              : m_pCore->HomeOf(hRoot, strPath, sam, pstrValue);
}

CStatus CRegistry::WriteBackRecovered(const std::string& strKeepOriginalsIn,
                                      std::vector<std::wstring>* pApplied) const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"}
                              : m_pCore->WriteBackRecovered(strKeepOriginalsIn, pApplied);
}

CStatus CRegistry::Reload() const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"} : m_pCore->Reload();
}

std::vector<std::wstring> CRegistry::LoadWarnings() const {
    return m_pCore == nullptr ? std::vector<std::wstring>() : m_pCore->LoadWarnings();
}

CStatus CRegistry::ImportText(HKEY hRoot, std::string_view strText) const {
    return m_pCore == nullptr ? CStatus{ERROR_INVALID_HANDLE, L"no registry"}
                              : m_pCore->ImportText(hRoot, strText);
}

std::string CRegistry::ExportText(HKEY hRoot, const std::wstring& strPath) const {
    return m_pCore == nullptr ? std::string() : m_pCore->ExportText(hRoot, strPath);
}

}  // namespace Branwick::Platform
