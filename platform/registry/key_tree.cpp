#include "platform/registry/key_tree.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>

namespace Branwick::Platform::Reg {

namespace {

// Keys with more values than this keep a name-ordered index of them.
constexpr std::size_t kIndexedValues = 16;

const std::array<char16_t, 0x10000>& FoldTable() {
    static const auto* table = [] {
        auto* t = new std::array<char16_t, 0x10000>;
        for (std::uint32_t c = 0; c < 0x10000; ++c) {
            const UChar32 f = u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT);
            // A BMP character never folds outside the BMP under simple folding; keep it safe.
            (*t)[c] = static_cast<char16_t>(f <= 0xFFFF ? f : c);
        }
        return t;
    }();
    return *table;
}

}  // namespace

char16_t FoldUnit(char16_t c) {
    if (c < 0x80) {
        return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    return FoldTable()[c];
}

int CompareNames(CNameView a, CNameView b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        const char16_t fa = FoldUnit(a[i]);
        const char16_t fb = FoldUnit(b[i]);
        if (fa != fb) {
            return fa < fb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(CNameView a, CNameView b) {
    return a.size() == b.size() && CompareNames(a, b) == 0;
}

CName ToName(std::wstring_view s) {
    CName out;
    ToName(s, &out);
    return out;
}

std::wstring ToWide(CNameView s) {
    std::wstring out;
    ToWide(s, &out);
    return out;
}

void ToName(std::wstring_view s, CName* pOut) {
    CName& out = *pOut;
    if (std::all_of(s.begin(), s.end(), [](wchar_t c) { return c >= 0 && c < 0x10000; })) {
        out.resize(s.size());  // assign() from another character type would copy twice
        std::copy(s.begin(), s.end(), out.begin());
        return;
    }
    out.clear();
    out.reserve(s.size());
    for (const wchar_t wc : s) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF) {
            c = 0xFFFD;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
}

void ToWide(CNameView s, std::wstring* pOut) {
    std::wstring& out = *pOut;
    if (std::none_of(s.begin(), s.end(), [](char16_t c) { return c >= 0xD800 && c < 0xDC00; })) {
        out.resize(s.size());  // assign() from another character type would copy twice
        std::copy(s.begin(), s.end(), out.begin());
        return;
    }
    out.clear();
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            out.push_back(
                static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00)));
            ++i;
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
}

CKeyNode::CKeyNode(CName strName, std::uint64_t qwTime)
    : m_qwTime(qwTime), m_strName(std::move(strName)) {}

CKeyNode::~CKeyNode() = default;

std::size_t CKeyNode::LowerBoundChild(CNameView strName) const {
    // Searches come in name order: a walk opens one subkey after the other, and a fix visits its
    // findings in the walk's order, deleting each. So where the last search ended, or one place
    // further, is tried first: a binary search through a large key misses the cache at nearly
    // every step.
    const std::size_t n = ChildCount();
    const auto before = [&](std::size_t i) {
        return CompareNames(Child(i)->m_strName, strName) < 0;
    };
    std::size_t i = std::min<std::size_t>(m_nLastBound, n);
    if (i < n && before(i)) {
        ++i;
    }
    if ((i == n || !before(i)) && (i == 0 || before(i - 1))) {
        m_nLastBound = static_cast<std::uint32_t>(i);
        return i;
    }
    const auto first = m_vChildren.begin() + static_cast<std::ptrdiff_t>(m_nFirstChild);
    auto it = std::lower_bound(first, m_vChildren.end(), strName,
                               [](const std::unique_ptr<CKeyNode>& p, CNameView name) {
                                   return CompareNames(p->m_strName, name) < 0;
                               });
    i = static_cast<std::size_t>(it - first);
    m_nLastBound = static_cast<std::uint32_t>(i);
    return i;
}

CKeyNode* CKeyNode::FindChild(CNameView strName) const {
    const std::size_t i = LowerBoundChild(strName);
    if (i < ChildCount() && CompareNames(Child(i)->m_strName, strName) == 0) {
        return Child(i);
    }
    return nullptr;
}

CKeyNode* CKeyNode::AddChild(CName strName, std::uint64_t qwTime) {
    return AttachChild(std::make_unique<CKeyNode>(std::move(strName), qwTime));
}

CKeyNode* CKeyNode::FindOrAddChild(CNameView strName, std::uint64_t qwTime, bool* pbAdded) {
    *pbAdded = false;
    if (ChildCount() > 0) {
        const int cmp = CompareNames(m_vChildren.back()->m_strName, strName);
        if (cmp == 0) {
            return m_vChildren.back().get();
        }
        if (cmp > 0) {
            if (CKeyNode* found = FindChild(strName)) {
                return found;
            }
            *pbAdded = true;
            return AddChild(CName(strName), qwTime);
        }
    }
    *pbAdded = true;
    return AppendChildUnsorted(CName(strName), qwTime);
}

CKeyNode* CKeyNode::AppendChildUnsorted(CName strName, std::uint64_t qwTime) {
    auto node = std::make_unique<CKeyNode>(std::move(strName), qwTime);
    node->m_pParent = this;
    CountChild(*node);
    m_vChildren.push_back(std::move(node));
    return m_vChildren.back().get();
}

void CKeyNode::SortChildren() {
    std::sort(m_vChildren.begin() + static_cast<std::ptrdiff_t>(m_nFirstChild), m_vChildren.end(),
              [](const std::unique_ptr<CKeyNode>& a, const std::unique_ptr<CKeyNode>& b) {
                  return CompareNames(a->m_strName, b->m_strName) < 0;
              });
}

std::unique_ptr<CKeyNode> CKeyNode::DetachChild(CKeyNode* pChild) {
    const std::size_t i = LowerBoundChild(pChild->m_strName);
    if (i >= ChildCount() || Child(i) != pChild) {
        return nullptr;
    }
    const auto first = m_vChildren.begin() + static_cast<std::ptrdiff_t>(m_nFirstChild);
    const auto at = first + static_cast<std::ptrdiff_t>(i);
    std::unique_ptr<CKeyNode> out = std::move(*at);
    if (i < ChildCount() / 2) {
        std::move_backward(first, at, at + 1);
        ++m_nFirstChild;
    } else {
        m_vChildren.erase(at);
    }
    if (m_nFirstChild > 64 && m_nFirstChild > m_vChildren.size() / 2) {
        m_vChildren.erase(m_vChildren.begin(), m_vChildren.begin() + static_cast<std::ptrdiff_t>(m_nFirstChild));
        m_nFirstChild = 0;
    }
    out->m_pParent = nullptr;
    m_bRecountChildren = m_bRecountChildren || out->m_strName.size() >= m_nMaxChildName ||
                         (out->m_pClass != nullptr && out->m_pClass->size() >= m_nMaxChildClass);
    return out;
}

CKeyNode* CKeyNode::AttachChild(std::unique_ptr<CKeyNode> pChild) {
    const std::size_t i = LowerBoundChild(pChild->m_strName);
    pChild->m_pParent = this;
    CountChild(*pChild);
    if (i == 0 && m_nFirstChild > 0) {
        m_vChildren[--m_nFirstChild] = std::move(pChild);
        return Child(0);
    }
    return m_vChildren
        .insert(m_vChildren.begin() + static_cast<std::ptrdiff_t>(m_nFirstChild + i), std::move(pChild))
        ->get();
}

void CKeyNode::SetClass(CName strClass) {
    if (m_pParent != nullptr && m_pClass != nullptr &&
        m_pClass->size() >= m_pParent->m_nMaxChildClass) {
        m_pParent->m_bRecountChildren = true;
    }
    m_pClass = std::make_unique<CName>(std::move(strClass));
    if (m_pParent != nullptr) {
        m_pParent->CountChild(*this);
    }
}

void CKeyNode::CountChild(const CKeyNode& child) const {
    m_nMaxChildName = std::max(m_nMaxChildName, static_cast<std::uint32_t>(child.m_strName.size()));
    if (child.m_pClass != nullptr) {
        m_nMaxChildClass =
            std::max(m_nMaxChildClass, static_cast<std::uint32_t>(child.m_pClass->size()));
    }
}

void CKeyNode::RecountChildren() const {
    if (!m_bRecountChildren) {
        return;
    }
    m_bRecountChildren = false;
    m_nMaxChildName = 0;
    m_nMaxChildClass = 0;
    for (std::size_t i = 0; i < ChildCount(); ++i) {
        CountChild(*Child(i));
    }
}

std::uint32_t CKeyNode::MaxChildNameLen() const {
    RecountChildren();
    return m_nMaxChildName;
}

std::uint32_t CKeyNode::MaxChildClassLen() const {
    RecountChildren();
    return m_nMaxChildClass;
}

std::size_t CKeyNode::FindValueIndex(CNameView strName) const {
    if (m_vValueOrder.empty()) {
        for (std::size_t i = 0; i < m_vValues.size(); ++i) {
            if (NamesEqual(m_vValues[i].m_strName, strName)) {
                return i;
            }
        }
        return m_vValues.size();
    }
    auto it = std::lower_bound(m_vValueOrder.begin(), m_vValueOrder.end(), strName,
                               [this](std::uint32_t pos, CNameView n) {
                                   return CompareNames(m_vValues[pos].m_strName, n) < 0;
                               });
    if (it != m_vValueOrder.end() && NamesEqual(m_vValues[*it].m_strName, strName)) {
        return *it;
    }
    return m_vValues.size();
}

const CValue* CKeyNode::FindValue(CNameView strName) const {
    const std::size_t i = FindValueIndex(strName);
    return i < m_vValues.size() ? &m_vValues[i] : nullptr;
}

void CKeyNode::RebuildValueIndex() {
    m_vValueOrder.clear();
    if (m_vValues.size() <= kIndexedValues) {
        return;
    }
    m_vValueOrder.resize(m_vValues.size());
    for (std::uint32_t i = 0; i < m_vValueOrder.size(); ++i) {
        m_vValueOrder[i] = i;
    }
    std::stable_sort(m_vValueOrder.begin(), m_vValueOrder.end(),
                     [this](std::uint32_t a, std::uint32_t b) {
                         return CompareNames(m_vValues[a].m_strName, m_vValues[b].m_strName) < 0;
                     });
}

bool CKeyNode::SetValue(CNameView strName, DWORD dwType, std::vector<std::uint8_t> vData) {
    const std::size_t i = FindValueIndex(strName);
    if (i < m_vValues.size()) {
        CValue& v = m_vValues[i];
        if (v.m_dwType == dwType && v.m_vData == vData) {
            return false;
        }
        v.m_dwType = dwType;
        v.m_vData = std::move(vData);
        return true;
    }
    m_vValues.push_back(CValue{CName(strName), dwType, std::move(vData)});
    if (m_vValueOrder.empty()) {
        if (m_vValues.size() > kIndexedValues) {
            RebuildValueIndex();
        }
        return true;
    }
    const auto pos = static_cast<std::uint32_t>(m_vValues.size() - 1);
    auto it = std::upper_bound(
        m_vValueOrder.begin(), m_vValueOrder.end(), pos, [this](std::uint32_t a, std::uint32_t b) {
            return CompareNames(m_vValues[a].m_strName, m_vValues[b].m_strName) < 0;
        });
    m_vValueOrder.insert(it, pos);
    return true;
}

bool CKeyNode::AdoptValues(std::vector<CValue>&& values) {
    if (!m_vValues.empty()) {
        return false;
    }
    m_vValues.swap(values);
    RebuildValueIndex();
    bool unique = true;
    if (m_vValueOrder.empty()) {
        for (std::size_t i = 0; unique && i < m_vValues.size(); ++i) {
            for (std::size_t j = i + 1; unique && j < m_vValues.size(); ++j) {
                unique = !NamesEqual(m_vValues[i].m_strName, m_vValues[j].m_strName);
            }
        }
    }
    for (std::size_t i = 1; unique && i < m_vValueOrder.size(); ++i) {
        unique = !NamesEqual(m_vValues[m_vValueOrder[i - 1]].m_strName,
                             m_vValues[m_vValueOrder[i]].m_strName);
    }
    if (!unique) {
        m_vValues.swap(values);
        m_vValueOrder.clear();
    }
    return unique;
}

bool CKeyNode::DeleteValue(CNameView strName) {
    const std::size_t i = FindValueIndex(strName);
    if (i >= m_vValues.size()) {
        return false;
    }
    m_vValues.erase(m_vValues.begin() + static_cast<std::ptrdiff_t>(i));
    if (!m_vValueOrder.empty()) {
        RebuildValueIndex();
    }
    return true;
}

std::vector<const CValue*> CKeyNode::SortedValues() const {
    std::vector<const CValue*> out;
    out.reserve(m_vValues.size());
    if (!m_vValueOrder.empty()) {
        for (const std::uint32_t pos : m_vValueOrder) {
            out.push_back(&m_vValues[pos]);
        }
        return out;
    }
    for (const CValue& v : m_vValues) {
        out.push_back(&v);
    }
    std::stable_sort(out.begin(), out.end(), [](const CValue* a, const CValue* b) {
        return CompareNames(a->m_strName, b->m_strName) < 0;
    });
    return out;
}

void DestroySubtree(std::unique_ptr<CKeyNode> pNode) {
    while (pNode->ChildCount() > 0) {
        DestroySubtree(pNode->DetachChild(pNode->Child(pNode->ChildCount() - 1)));
    }
    pNode->Set(kNodeDeleted, true);
    if (pNode->m_nHandles > 0) {
        pNode.release();  // the last handle frees it (ReleaseNode)
    }
}

void ReleaseNode(CKeyNode* pNode) {
    if (--pNode->m_nHandles == 0 && pNode->Has(kNodeDeleted) && pNode->Parent() == nullptr) {
        delete pNode;
    }
}

}  // namespace Branwick::Platform::Reg
