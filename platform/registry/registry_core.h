// The registry behind CRegistry and CRegKey: mounts, roots, views, links, the merged classes
// root, and the one mutex. Private to platform/registry; stores use Mount and Wrap to build a
// target's registry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry/key_tree.h"
#include "platform/registry/registry.h"
#include "platform/registry/store.h"

namespace Branwick::Platform {

// Where things are, as paths below \Registry.
struct CRegistryLayout {
    bool m_b64Bit = true;
    EClassesRoot m_eClassesRoot = EClassesRoot::Machine;
    std::wstring m_strCurrentUser = L"User\\S-1-5-21-0-0-0-1000";
    // The user's classes for the merged HKEY_CLASSES_ROOT.
    std::wstring m_strUserClasses = L"User\\S-1-5-21-0-0-0-1000\\Software\\Classes";
};

// What an open key refers to.
struct CRegKey::CState {
    std::shared_ptr<CRegistryCore> m_pCore;
    Reg::CKeyNode* m_pNode = nullptr;     // the key; for the merged classes root the user's copy
    Reg::CKeyNode* m_pMachine = nullptr;  // merged classes root only: the machine's copy
    bool m_bMerged = false;
    std::vector<Reg::CName> m_vClassPath;  // merged: the path below HKEY_CLASSES_ROOT
    // Merged enumeration, rebuilt when the registry changed since.
    std::uint64_t m_nListGeneration = 0;
    std::vector<const Reg::CKeyNode*> m_vKeyList;
    std::vector<const Reg::CValue*> m_vValueList;
    // The subkey EnumKey gave last, while the registry has not changed since: a walk opens each
    // subkey by the name it was just given, and this finds it without a search.
    Reg::CKeyNode* m_pEnumerated = nullptr;
    std::uint64_t m_nEnumeratedGeneration = 0;
};

class CRegistryCore : public std::enable_shared_from_this<CRegistryCore> {
public:
    explicit CRegistryCore(CRegistryLayout layout);
    ~CRegistryCore();
    CRegistryCore(const CRegistryCore&) = delete;
    CRegistryCore& operator=(const CRegistryCore&) = delete;

    // Mounts a store at strPlace (e.g. L"Machine") and loads it. Places do not nest.
    CStatus Mount(std::unique_ptr<Reg::IRegStore> pStore, const std::wstring& strPlace);
    void Set64Bit(bool b64Bit);
    // Moves the current user's places (paths as in CRegistryLayout) once a loader knows the user:
    // an offline volume learns the SID from the hives it has mounted.
    void SetUserPlaces(const std::wstring& strCurrentUser, const std::wstring& strUserClasses);
    static CRegistry Wrap(std::shared_ptr<CRegistryCore> pCore);

    bool Is64Bit() const;
    LONG OpenRoot(HKEY hRoot, CRegKey* pOut);
    LONG Open(const CRegKey::CState& base, const std::wstring& strSubKey, REGSAM sam, bool bCreate,
              CRegKey* pOut, bool* pbCreated);
    // Open of a key below a predefined one, without a handle of the predefined key between: every
    // key a scanner or a fix opens by its path comes this way.
    LONG OpenFromRoot(HKEY hRoot, const std::wstring& strSubKey, REGSAM sam, bool bCreate,
                      CRegKey* pOut, bool* pbCreated);
    LONG Delete(const CRegKey::CState& base, const std::wstring& strSubKey, REGSAM sam, bool bTree);
    LONG EnumKey(CRegKey::CState& key, DWORD dwIndex, std::wstring* psName, DWORD dwCapacity);
    LONG EnumValue(CRegKey::CState& key, DWORD dwIndex, CRegValue* pValue, DWORD dwNameCapacity,
                   DWORD dwDataCapacity);
    LONG QueryInfo(CRegKey::CState& key, CRegKeyInfo* pInfo);
    LONG QueryValue(const CRegKey::CState& key, const std::wstring& strName, DWORD* pdwType,
                    CRegBytes* pvData, DWORD dwCapacity);
    LONG SetValue(const CRegKey::CState& key, const std::wstring& strName, DWORD dwType,
                  const CRegBytes& vData);
    LONG DeleteValue(const CRegKey::CState& key, const std::wstring& strName);
    std::wstring GetPath(const CRegKey::CState& key);
    void Release(CRegKey::CState* pKey);

    bool IsDirty();
    bool ChangedOnDisk();
    CStatus Flush(const std::string& strKeepOriginalsIn = {});
    CStatus CheckWritable();
    CStatus CheckWritable(HKEY hRoot, const std::wstring& strPath, REGSAM sam);
    CStatus CheckRestorable(HKEY hRoot, const std::wstring& strPath, REGSAM sam, bool bWhole);
    std::pair<HKEY, std::wstring> HomeOf(HKEY hRoot, const std::wstring& strPath, REGSAM sam,
                                         const std::wstring* pstrValue);
    CStatus WriteBackRecovered(const std::string& strKeepOriginalsIn,
                               std::vector<std::wstring>* pApplied);
    CStatus Reload();
    std::vector<std::wstring> LoadWarnings();
    CStatus ImportText(HKEY hRoot, std::string_view strText);
    std::string ExportText(HKEY hRoot, const std::wstring& strPath);

private:
    struct CMount {
        std::unique_ptr<Reg::IRegStore> m_pStore;
        std::vector<Reg::CName> m_vPlace;
        Reg::CKeyNode* m_pRoot = nullptr;
        bool m_bDirty = false;
    };
    enum class EWalk { Found, Missing, Broken };
    struct CWalk {
        EWalk m_eResult = EWalk::Missing;
        Reg::CKeyNode* m_pNode = nullptr;  // found: the key; missing: the deepest existing key
        std::size_t m_nMatched = 0;        // elements that exist
    };

    // Follows vPath from pStart (null: the top of the tree).
    CWalk Walk(const std::vector<Reg::CName>& vPath, int nLinkDepth,
               Reg::CKeyNode* pStart = nullptr);
    Reg::CKeyNode* FollowLink(Reg::CKeyNode* pNode, int nLinkDepth);
    std::vector<Reg::CName> AbsolutePath(const Reg::CKeyNode* pNode) const;
    bool Is32BitView(REGSAM sam) const;
    // Where the 32-bit view puts Wow6432Node into an absolute path; std::size_t(-1) when it
    // does not.
    std::size_t RedirectAt(const std::vector<Reg::CNameView>& vPath, REGSAM sam) const;
    void ApplyView(std::vector<Reg::CName>* pPath, REGSAM sam) const;
    // Whether the view sends pBase\vRel somewhere other than below pBase.
    bool IsRedirected(const Reg::CKeyNode* pBase, const std::vector<Reg::CName>& vRel, REGSAM sam);
    // The subkey of base that EnumKey gave last when strName is its name unit for unit; else null.
    Reg::CKeyNode* EnumeratedChild(const CRegKey::CState& base, const std::wstring& strName) const;
    // Opens (or creates) the key at pBase\vRel of a key outside the merged classes root.
    LONG OpenBelow(Reg::CKeyNode* pBase, const std::vector<Reg::CName>& vRel, REGSAM sam,
                   bool bCreate, Reg::CKeyNode** ppOut, bool* pbCreated);
    // Where a predefined key lies in the tree; null for a handle that is none.
    const std::vector<Reg::CName>* RootPath(HKEY hRoot) const;
    // The state OpenRoot gives its handle, unheld.
    LONG RootState(HKEY hRoot, CRegKey::CState* pState);
    LONG OpenLocked(const CRegKey::CState& base, const std::wstring& strSubKey, REGSAM sam,
                    bool bCreate, CRegKey* pOut, bool* pbCreated);
    LONG OpenMerged(std::vector<Reg::CName> vRel, REGSAM sam, bool bCreate, CRegKey::CState* pOut,
                    bool* pbCreated);
    LONG CreateRest(const std::vector<Reg::CName>& vPath, const CWalk& walk, Reg::CKeyNode** ppOut);
    LONG DeleteNode(Reg::CKeyNode* pNode, bool bTree);
    bool IsProtected(const Reg::CKeyNode* pNode);
    CMount* MountOf(const Reg::CKeyNode* pNode);
    // The first refusal of check by a store holding the key (both stores of a merged classes key);
    // a key that does not exist needs nothing: success.
    CStatus CheckStoresOf(
        HKEY hRoot, const std::wstring& strPath, REGSAM sam,
        const std::function<CStatus(const Reg::IRegStore&, const Reg::CKeyNode&)>& check);
    void MarkDirty(Reg::CKeyNode* pNode);
    void Touch(Reg::CKeyNode* pNode);
    void BuildLists(CRegKey::CState& key);
    void Hold(CRegKey::CState* pState, CRegKey* pOut);
    Reg::CKeyNode* WriteNode(const CRegKey::CState& key);

    std::mutex m_mutex;
    CRegistryLayout m_layout;
    // The places of the predefined keys, split once: every open of a key starts at one.
    std::vector<Reg::CName> m_vMachine;
    std::vector<Reg::CName> m_vUsers;
    std::vector<Reg::CName> m_vCurrentUser;
    std::vector<Reg::CName> m_vCurrentConfig;
    std::vector<Reg::CName> m_vMachineClasses;
    std::vector<Reg::CName> m_vUserClasses;
    // HKCU\Software\Classes; on Windows a link to the user's classes, elsewhere the same place.
    std::vector<Reg::CName> m_vCurrentUserClasses;
    std::unique_ptr<Reg::CKeyNode> m_pRoot;
    std::vector<CMount> m_vMounts;
    std::vector<std::wstring> m_vWarnings;
    std::uint64_t m_nGeneration = 1;
    // Scratch paths of Open, kept so that opening a key allocates nothing for them; used only
    // under m_mutex.
    std::vector<Reg::CName> m_vRelPath;
    std::vector<Reg::CNameView> m_vViewPath;
};

}  // namespace Branwick::Platform
