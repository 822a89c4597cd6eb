// The in-memory key tree that every store loads into and saves from. Private to platform/registry.
//
// Names are UTF-16 (as Windows and Wine keep them, so lone surrogates and the unit order of sorting
// survive a round trip). Nodes are owned by their parent; a node that is deleted while open
// handles refer to it is detached and lives on, marked deleted, until the last handle lets go.
// Nothing here locks: the registry holds its mutex around every use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform::Reg {

using CName = std::u16string;
using CNameView = std::u16string_view;

// Unicode simple case folding of one UTF-16 unit; surrogates fold to themselves, because Windows
// and Wine compare names unit by unit.
char16_t FoldUnit(char16_t c);
// The order of names in the tree: folded units, then the shorter name first.
int CompareNames(CNameView a, CNameView b);
bool NamesEqual(CNameView a, CNameView b);

// std::wstring is UTF-32 on Linux; a lone surrogate passes through unchanged both ways.
CName ToName(std::wstring_view s);
std::wstring ToWide(CNameView s);
// The same into a string whose storage is reused.
void ToName(std::wstring_view s, CName* pOut);
void ToWide(CNameView s, std::wstring* pOut);

struct CValue {
    CName m_strName;
    DWORD m_dwType = REG_NONE;
    std::vector<std::uint8_t> m_vData;
};

enum ENodeFlag : std::uint16_t {
    kNodeLink = 1,     // a symbolic link: SymbolicLinkValue names the target
    kNodeDeleted = 2,  // detached from the tree; handles report ERROR_KEY_DELETED
    kNodeDirty = 4,    // this key or something below it changed since the store last saved
    kNodeMount = 8,    // the root of a store's subtree
    kNodeVolatile = 16,  // made in memory by the loader (as Windows makes CurrentControlSet at
                         // boot); no store saves it
};

class CKeyNode {
public:
    explicit CKeyNode(CName strName, std::uint64_t qwTime = 0);
    ~CKeyNode();
    CKeyNode(const CKeyNode&) = delete;
    CKeyNode& operator=(const CKeyNode&) = delete;

    const CName& Name() const { return m_strName; }
    CKeyNode* Parent() const { return m_pParent; }
    bool Has(ENodeFlag f) const { return (m_wFlags & f) != 0; }
    void Set(ENodeFlag f, bool b) { m_wFlags = b ? (m_wFlags | f) : (m_wFlags & ~f); }

    // Subkeys in sorted order.
    std::size_t ChildCount() const { return m_vChildren.size() - m_nFirstChild; }
    CKeyNode* Child(std::size_t i) const { return m_vChildren[m_nFirstChild + i].get(); }
    CKeyNode* FindChild(CNameView strName) const;
    // Adds a subkey that must not exist yet.
    CKeyNode* AddChild(CName strName, std::uint64_t qwTime);
    // Finds or adds; cheap when names arrive in sorted order, as they do from a saved file.
    CKeyNode* FindOrAddChild(CNameView strName, std::uint64_t qwTime, bool* pbAdded);
    // Removes a subkey from the tree and hands it over.
    std::unique_ptr<CKeyNode> DetachChild(CKeyNode* pChild);
    // Inserts a detached node whose name is not taken yet.
    CKeyNode* AttachChild(std::unique_ptr<CKeyNode> pChild);
    // For loaders that meet subkeys out of order: adds one whose name is not taken yet at the
    // end, out of order; SortChildren must follow before anything else looks at the subkeys.
    CKeyNode* AppendChildUnsorted(CName strName, std::uint64_t qwTime);
    void SortChildren();

    // Values in creation order.
    const std::vector<CValue>& Values() const { return m_vValues; }
    const CValue* FindValue(CNameView strName) const;
    // Creates or replaces; a replaced value keeps its name's spelling and its place. Returns
    // whether type or data changed.
    bool SetValue(CNameView strName, DWORD dwType, std::vector<std::uint8_t> vData);
    // For loaders: all values of a key that has none yet, in their order. False, with nothing
    // taken, when two of them have the same name.
    bool AdoptValues(std::vector<CValue>&& values);
    // For loaders: room for n subkeys.
    void ReserveChildren(std::size_t n) { m_vChildren.reserve(n); }
    bool DeleteValue(CNameView strName);
    // Values in name order (the order Wine writes them).
    std::vector<const CValue*> SortedValues() const;

    const CName* Class() const { return m_pClass.get(); }
    void SetClass(CName strClass);

    // The longest subkey name and subkey class in UTF-16 units. Kept as subkeys come and go, and
    // recounted only after the longest may have left: a walk asks at every key it enters, and
    // counting would visit every subkey one more time.
    std::uint32_t MaxChildNameLen() const;
    std::uint32_t MaxChildClassLen() const;

    std::uint64_t m_qwTime = 0;  // last write, FILETIME; 0 while a loader has not set it
    std::uint32_t m_nHandles = 0;

private:
    std::size_t LowerBoundChild(CNameView strName) const;
    std::size_t FindValueIndex(CNameView strName) const;
    void RebuildValueIndex();
    void CountChild(const CKeyNode& child) const;
    void RecountChildren() const;

    CName m_strName;
    CKeyNode* m_pParent = nullptr;
    std::uint16_t m_wFlags = 0;
    mutable bool m_bRecountChildren = false;
    mutable std::uint32_t m_nMaxChildName = 0;
    mutable std::uint32_t m_nMaxChildClass = 0;
    mutable std::uint32_t m_nLastBound = 0;  // where the last search among the subkeys ended
    // Subkeys in name order from m_nFirstChild on; the slots before it are empty. Removing a
    // subkey moves the shorter side, so that removing many in name order (a fix of many empty
    // keys) costs in step with their number instead of its square.
    std::vector<std::unique_ptr<CKeyNode>> m_vChildren;
    std::size_t m_nFirstChild = 0;
    std::vector<CValue> m_vValues;
    // Positions of m_vValues in name order, kept only for keys with many values so that lookups
    // stay logarithmic.
    std::vector<std::uint32_t> m_vValueOrder;
    std::unique_ptr<CName> m_pClass;
};

// Marks a tree deleted from pNode down: detached nodes that handles still hold survive them.
// Frees what no handle holds. pNode must already be detached.
void DestroySubtree(std::unique_ptr<CKeyNode> pNode);
// Releases one handle's hold; frees the node when it was deleted and nothing else holds it.
void ReleaseNode(CKeyNode* pNode);

}  // namespace Branwick::Platform::Reg
