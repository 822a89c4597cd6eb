#include "platform/registry/hive_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/registry/hive_log.h"
#include "platform/registry/utf8.h"
#include "platform/text/text.h"

namespace Branwick::Platform::Reg {

namespace {

// hivex passes types through an enum that only names 0-11; other types (0xFFFF2012 for device
// properties) travel in the same four bytes, so they are copied, never loaded as the enum.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));

// Limits of hivex 1.3 (lib/hivex-internal.h) and of the regf format.
constexpr std::size_t kMaxSubkeys = 70000;
constexpr std::size_t kMaxValues = 110000;
constexpr std::size_t kMaxValueBytes = 1000000;   // one cell; larger data fail to allocate
constexpr std::size_t kMaxPlainCellData = 16344;  // beyond it, 1.4+ hives use big-data records
constexpr int kMaxDepth = 512;
constexpr std::size_t kMaxWarnings = 100;
constexpr std::uint32_t kHeaderSize = 512;  // the checksummed part of the base block
constexpr std::uint64_t kBaseBlockSize = 4096;

struct CHiveCloser {
    void operator()(hive_h* h) const { hivex_close(h); }
};
using CHive = std::unique_ptr<hive_h, CHiveCloser>;

struct CFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using CMalloced = std::unique_ptr<T, CFree>;

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::wstring Errno(int nErrno) {
    return WidenUtf8(std::strerror(nErrno));
}

// hivex hands names over as UTF-8; the tree keeps UTF-16.
bool NameFromUtf8(const char* psName, CName* pOut) {
    const std::size_t n = std::strlen(psName);
    pOut->resize(n);
    std::size_t i = 0;
    for (; i < n && static_cast<unsigned char>(psName[i]) < 0x80; ++i) {
        (*pOut)[i] = static_cast<char16_t>(psName[i]);
    }
    if (i == n) {
        return true;
    }
    pOut->resize(i);
    const char* p = psName + i;
    const char* end = psName + n;
    while (p < end) {
        if (static_cast<unsigned char>(*p) < 0x80) {
            pOut->push_back(static_cast<char16_t>(*p++));
            continue;
        }
        std::uint32_t c = 0;
        const std::size_t len = DecodeUtf8(p, end, &c);
        if (len == 0) {
            return false;
        }
        PushCodePoint(c, pOut);
        p += len;
    }
    return true;
}

// False for a lone surrogate, which no UTF-8 can carry to hivex.
bool NameToUtf8(CNameView strName, std::string* pOut) {
    pOut->clear();
    for (std::size_t i = 0; i < strName.size(); ++i) {
        std::uint32_t c = strName[i];
        if (c >= 0xD800 && c < 0xE000) {
            if (c >= 0xDC00 || i + 1 == strName.size() || strName[i + 1] < 0xDC00 ||
                strName[i + 1] >= 0xE000) {
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (strName[++i] - 0xDC00);
        }
        if (c < 0x80) {
            pOut->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            pOut->push_back(static_cast<char>(0xC0 | (c >> 6)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            pOut->push_back(static_cast<char>(0xE0 | (c >> 12)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            pOut->push_back(static_cast<char>(0xF0 | (c >> 18)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

// The order Windows keeps subkey lists in: names compared unit by unit after upper-casing.
int CompareUpcase(CNameView a, CNameView b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ua = static_cast<char16_t>(u_toupper(a[i]));
        const auto ub = static_cast<char16_t>(u_toupper(b[i]));
        if (ua != ub) {
            return ua < ub ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

struct CHiveChild {
    hive_node_h m_hNode = 0;
    CName m_strName;
};

// The subkeys of a key in the file's order. False with *pnErrno set when they cannot be read.
// The entries of *pOut are reused, names and all.
bool ReadChildren(hive_h* h, hive_node_h node, std::vector<CHiveChild>* pOut, int* pnErrno) {
    errno = 0;
    CMalloced<hive_node_h> children(hivex_node_children(h, node));
    if (children == nullptr) {
        pOut->clear();
        *pnErrno = errno != 0 ? errno : EIO;
        return false;
    }
    std::size_t n = 0;
    while (children.get()[n] != 0) {
        ++n;
    }
    pOut->resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        CHiveChild& child = (*pOut)[i];
        child.m_hNode = children.get()[i];
        errno = 0;
        CMalloced<char> name(hivex_node_name(h, child.m_hNode));
        if (name == nullptr || !NameFromUtf8(name.get(), &child.m_strName)) {
            *pnErrno = name == nullptr && errno != 0 ? errno : EILSEQ;
            pOut->clear();
            return false;
        }
    }
    return true;
}

// The values of a key in the file's order, data whole (hivex joins big-data segments).
bool ReadValues(hive_h* h, hive_node_h node, std::vector<CValue>* pOut, int* pnErrno) {
    pOut->clear();
    errno = 0;
    CMalloced<hive_value_h> values(hivex_node_values(h, node));
    if (values == nullptr) {
        *pnErrno = errno != 0 ? errno : EIO;
        return false;
    }
    std::size_t n = 0;
    while (values.get()[n] != 0) {
        ++n;
    }
    pOut->reserve(n);
    for (const hive_value_h* v = values.get(); *v != 0; ++v) {
        errno = 0;
        CMalloced<char> key(hivex_value_key(h, *v));
        CValue value;
        if (key == nullptr || !NameFromUtf8(key.get(), &value.m_strName)) {
            *pnErrno = key == nullptr && errno != 0 ? errno : EILSEQ;
            return false;
        }
        hive_type type{};
        std::size_t len = 0;
        errno = 0;
        CMalloced<char> data(hivex_value_value(h, *v, &type, &len));
        if (data == nullptr && (len != 0 || errno != 0)) {
            *pnErrno = errno != 0 ? errno : EIO;
            return false;
        }
        std::memcpy(&value.m_dwType, &type, sizeof value.m_dwType);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.get());
        value.m_vData.assign(bytes, bytes + (data != nullptr ? len : 0));
        pOut->push_back(std::move(value));
    }
    return true;
}

// "ControlSet001\Services" for messages.
std::wstring KeyPath(const CKeyNode* pKey) {
    std::vector<const CKeyNode*> chain;
    for (; pKey != nullptr && !pKey->Has(kNodeMount); pKey = pKey->Parent()) {
        chain.push_back(pKey);
    }
    std::wstring out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        out += (out.empty() ? L"" : L"\\") + ToWide((*it)->Name());
    }
    return out.empty() ? L"(root)" : out;
}

std::wstring KeyPath(const CKeyNode* pParent, CNameView strChild) {
    const std::wstring parent = KeyPath(pParent);
    return (parent == L"(root)" ? L"" : parent + L"\\") + ToWide(strChild);
}

// ---- reading ----

class CHiveReader {
public:
    CHiveReader(hive_h* h, std::size_t nFileSize, const std::wstring& strName,
                std::vector<std::wstring>* pWarnings)
        : m_h(h), m_vVisited(nFileSize / 8 + 1), m_strName(strName), m_pWarnings(pWarnings) {}

    void ReadKey(hive_node_h node, CKeyNode* pKey, int nDepth) {
        const std::int64_t time = hivex_node_timestamp(m_h, node);
        pKey->m_qwTime = time > 0 ? static_cast<std::uint64_t>(time) : 0;
        int err = 0;
        if (!ReadValues(m_h, node, &m_vValues, &err)) {
            Problem(KeyPath(pKey), L"its values cannot be read (" + Errno(err) + L")");
        }
        for (const CValue& v : m_vValues) {
            if (v.m_dwType == REG_LINK && NamesEqual(v.m_strName, u"SymbolicLinkValue")) {
                pKey->Set(kNodeLink, true);
            }
        }
        if (!pKey->AdoptValues(std::move(m_vValues))) {
            for (CValue& v : m_vValues) {
                if (pKey->FindValue(v.m_strName) != nullptr) {
                    Problem(KeyPath(pKey),
                            L"the value '" + ToWide(v.m_strName) + L"' appears twice");
                } else {
                    pKey->SetValue(v.m_strName, v.m_dwType, std::move(v.m_vData));
                }
            }
        }
        // One list per depth, kept between keys: loading is mostly allocation otherwise.
        if (m_vChildLists.size() <= static_cast<std::size_t>(nDepth)) {
            m_vChildLists.resize(nDepth + 1);
        }
        std::vector<CHiveChild>& children = m_vChildLists[nDepth];
        if (!ReadChildren(m_h, node, &children, &err)) {
            Problem(KeyPath(pKey), L"its subkeys cannot be read (" + Errno(err) + L")");
            return;
        }
        pKey->ReserveChildren(children.size());
        for (CHiveChild& child : children) {
            if (nDepth >= kMaxDepth || !Visit(child.m_hNode)) {
                Problem(KeyPath(pKey, child.m_strName),
                        nDepth >= kMaxDepth ? L"it lies too deep" : L"it is reached twice");
                continue;
            }
            bool added = false;
            CKeyNode* sub = pKey->FindOrAddChild(child.m_strName, 0, &added);
            if (!added) {
                Problem(KeyPath(pKey, child.m_strName), L"another key has the same name");
                continue;
            }
            ReadKey(child.m_hNode, sub, nDepth + 1);
        }
    }

    bool Visit(hive_node_h node) {
        const std::size_t bit = node / 8;
        if (bit >= m_vVisited.size() || m_vVisited[bit]) {
            return false;
        }
        m_vVisited[bit] = true;
        return true;
    }

    std::size_t Problems() const { return m_nProblems; }
    const std::wstring& FirstProblem() const { return m_strFirst; }

private:
    void Problem(const std::wstring& strKey, const std::wstring& strWhy) {
        std::wstring line = m_strName + L": key '" + strKey + L"' skipped: " + strWhy;
        if (m_nProblems++ == 0) {
            m_strFirst = line;
        }
        if (m_pWarnings->size() < kMaxWarnings) {
            m_pWarnings->push_back(std::move(line));
        }
    }

    hive_h* m_h;
    std::vector<bool> m_vVisited;  // by cell offset: a damaged file may link a key twice
    std::vector<CValue> m_vValues;
    std::vector<std::vector<CHiveChild>> m_vChildLists;
    const std::wstring& m_strName;
    std::vector<std::wstring>* m_pWarnings;
    std::size_t m_nProblems = 0;
    std::wstring m_strFirst;
};

// ---- writing ----

bool Saved(const CKeyNode* pKey) {
    return !pKey->Has(kNodeVolatile) && !pKey->Has(kNodeMount);
}

bool SameValues(const std::vector<CValue>& a, const std::vector<CValue>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CValue& x, const CValue& y) {
        return x.m_strName == y.m_strName && x.m_dwType == y.m_dwType && x.m_vData == y.m_vData;
    });
}

// Why hivex could not write one value so that Windows reads it back; empty when it could.
// bBigDataRecords: the hive (version 1.4 and later) keeps data beyond one cell in big-data
// records, which hivex would rewrite as one plain cell.
std::wstring WhyValueUnwritable(const CValue& v, bool bBigDataRecords) {
    if (v.m_vData.size() > kMaxValueBytes) {
        return L"its value '" + ToWide(v.m_strName) + L"' holds " +
               std::to_wstring(v.m_vData.size()) + L" bytes, more than hivex can write";
    }
    if (bBigDataRecords && v.m_vData.size() > kMaxPlainCellData) {
        return L"it holds the value '" + ToWide(v.m_strName) + L"' of " +
               std::to_wstring(v.m_vData.size()) +
               L" bytes, which hivex would rewrite as one plain cell where Windows expects a "
               L"big-data record";
    }
    std::string name;
    return NameToUtf8(v.m_strName, &name) ? std::wstring() : L"a value name holds a lone surrogate";
}

// hivex rewrites all values of a key at once, so every value of the key counts.
std::wstring WhyValuesUnwritable(const std::vector<CValue>& values, bool bBigDataRecords) {
    if (values.size() > kMaxValues) {
        return L"it has more values than hivex can write";
    }
    for (const CValue& v : values) {
        if (std::wstring why = WhyValueUnwritable(v, bBigDataRecords); !why.empty()) {
            return why;
        }
    }
    return {};
}

// hivex hashes and sorts a new name byte by byte of its UTF-8, where Windows upper-cases UTF-16;
// with any other name than plain ASCII Windows could not find the key.
std::wstring WhyNameUnaddable(CNameView strName) {
    return std::any_of(strName.begin(), strName.end(), [](char16_t c) { return c >= 0x80; })
               ? L"hivex cannot add a key whose name is not plain ASCII"
               : std::wstring();
}

// Why hivex could not add the key with everything below it as it is now; empty when it could.
// *psKey names the key the reason is about.
std::wstring WhyTreeUnaddable(const CKeyNode& key, bool bBigDataRecords, std::wstring* psKey) {
    std::vector<const CKeyNode*> pending = {&key};
    while (!pending.empty()) {
        const CKeyNode* node = pending.back();
        pending.pop_back();
        std::wstring why = WhyNameUnaddable(node->Name());
        if (why.empty() && node->ChildCount() > kMaxSubkeys) {
            why = L"it has more subkeys than hivex can handle";
        }
        if (why.empty()) {
            why = WhyValuesUnwritable(node->Values(), bBigDataRecords);
        }
        if (!why.empty()) {
            *psKey = KeyPath(node);
            return why;
        }
        for (std::size_t i = 0; i < node->ChildCount(); ++i) {
            if (Saved(node->Child(i))) {
                pending.push_back(node->Child(i));
            }
        }
    }
    return {};
}

// Applies the differences between a tree and the hive it was read from to a writable hivex
// handle. Nothing reaches the disk here, so a refusal half way leaves the file as it was.
class CHiveWriter {
public:
    CHiveWriter(hive_h* h, bool bBigDataRecords, const std::wstring& strName)
        : m_h(h), m_bBigDataRecords(bBigDataRecords), m_strName(strName) {}

    bool Changed() const { return m_bChanged; }

    CStatus SyncKey(const CKeyNode& key, hive_node_h node) {
        CStatus status = SyncValues(key, node);
        std::vector<CHiveChild> stored;
        int err = 0;
        if (status.Ok() && !ReadChildren(m_h, node, &stored, &err)) {
            status = Refuse(KeyPath(&key), L"its subkeys cannot be read (" + Errno(err) + L")");
        }
        std::stable_sort(stored.begin(), stored.end(),
                         [](const CHiveChild& a, const CHiveChild& b) {
                             return CompareNames(a.m_strName, b.m_strName) < 0;
                         });
        std::size_t j = 0;
        for (std::size_t i = 0; status.Ok() && i < key.ChildCount(); ++i) {
            const CKeyNode* child = key.Child(i);
            while (status.Ok() && j < stored.size() &&
                   CompareNames(stored[j].m_strName, child->Name()) < 0) {
                status = DeleteKey(key, stored[j++]);
            }
            if (!status.Ok() || !Saved(child)) {
                continue;
            }
            if (j < stored.size() && NamesEqual(stored[j].m_strName, child->Name())) {
                const hive_node_h match = stored[j++].m_hNode;
                if (child->Has(kNodeDirty)) {
                    status = SyncKey(*child, match);
                }
            } else {
                status = AddKey(*child, node);
            }
        }
        while (status.Ok() && j < stored.size()) {
            status = DeleteKey(key, stored[j++]);
        }
        return status;
    }

private:
    CStatus Refuse(const std::wstring& strKey, const std::wstring& strWhy) const {
        return {ERROR_NOT_SUPPORTED, m_strName + L" is not written, because of the key '" + strKey +
                                         L"': " + strWhy + L". Nothing was changed."};
    }

    CStatus SyncValues(const CKeyNode& key, hive_node_h node) {
        std::vector<CValue> stored;
        int err = 0;
        if (!ReadValues(m_h, node, &stored, &err)) {
            return Refuse(KeyPath(&key), L"its values cannot be read (" + Errno(err) + L")");
        }
        if (SameValues(stored, key.Values())) {
            return {};
        }
        return WriteValues(key, node, stored);
    }

    // hivex rewrites all values of a key at once, so every value of the key is checked, not
    // only the changed one.
    CStatus WriteValues(const CKeyNode& key, hive_node_h node, const std::vector<CValue>& stored) {
        const std::vector<CValue>& values = key.Values();
        std::wstring why = WhyValuesUnwritable(values, m_bBigDataRecords);
        // The values hivex drops are rewritten too: a big-data one would come back as a plain cell.
        for (auto it = stored.begin(); why.empty() && it != stored.end(); ++it) {
            why = WhyValueUnwritable(*it, m_bBigDataRecords);
        }
        if (!why.empty()) {
            return Refuse(KeyPath(&key), why);
        }
        std::vector<std::string> names(values.size());
        std::vector<hive_set_value> set(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            NameToUtf8(values[i].m_strName, &names[i]);
            set[i].key = names[i].data();
            std::memcpy(&set[i].t, &values[i].m_dwType, sizeof values[i].m_dwType);
            set[i].len = values[i].m_vData.size();
            // hivex only reads the data.
            set[i].value =
                reinterpret_cast<char*>(const_cast<std::uint8_t*>(values[i].m_vData.data()));
        }
        if (hivex_node_set_values(m_h, node, set.size(), set.data(), 0) != 0) {
            return Refuse(KeyPath(&key),
                          L"hivex could not write its values (" + Errno(errno) + L")");
        }
        m_bChanged = true;
        return {};
    }

    CStatus DeleteKey(const CKeyNode& parent, const CHiveChild& child) {
        if (hivex_node_delete_child(m_h, child.m_hNode) != 0) {
            const int err = errno;
            return Refuse(KeyPath(&parent, child.m_strName),
                          err == ENOTSUP ? L"its parent keeps its subkeys in an 'li' list, "
                                           L"which hivex cannot remove keys from"
                                         : L"hivex could not delete it (" + Errno(err) + L")");
        }
        m_bChanged = true;
        return {};
    }

    CStatus AddKey(const CKeyNode& key, hive_node_h parent) {
        const std::wstring path = KeyPath(&key);
        if (const std::wstring why = WhyNameUnaddable(key.Name()); !why.empty()) {
            return Refuse(path, why);
        }
        if (key.Parent() != nullptr && key.Parent()->ChildCount() > kMaxSubkeys) {
            return Refuse(path, L"its parent has more subkeys than hivex can handle");
        }
        std::string name;
        NameToUtf8(key.Name(), &name);
        const hive_node_h node = hivex_node_add_child(m_h, parent, name.c_str());
        if (node == 0) {
            return Refuse(path, L"hivex could not add it (" + Errno(errno) + L")");
        }
        m_bChanged = true;
        CStatus status = CheckPlace(key, parent, node);
        if (status.Ok() && !key.Values().empty()) {
            status = WriteValues(key, node, {});
        }
        for (std::size_t i = 0; status.Ok() && i < key.ChildCount(); ++i) {
            if (Saved(key.Child(i))) {
                status = AddKey(*key.Child(i), node);
            }
        }
        return status;
    }

    // hivex finds the place of a new key by upper-casing ASCII bytes of UTF-8 names; Windows
    // upper-cases UTF-16, where some other letters become ASCII ones (U+017F long s is "S").
    // Next to such a name a new key can land where Windows never looks for it.
    CStatus CheckPlace(const CKeyNode& key, hive_node_h parent, hive_node_h node) {
        std::vector<CHiveChild> stored;
        int err = 0;
        if (!ReadChildren(m_h, parent, &stored, &err)) {
            return Refuse(KeyPath(&key),
                          L"its parent's subkeys cannot be read (" + Errno(err) + L")");
        }
        const auto it = std::find_if(stored.begin(), stored.end(),
                                     [node](const CHiveChild& c) { return c.m_hNode == node; });
        const bool ordered =
            it != stored.end() &&
            (it == stored.begin() || CompareUpcase((it - 1)->m_strName, it->m_strName) < 0) &&
            (it + 1 == stored.end() || CompareUpcase(it->m_strName, (it + 1)->m_strName) < 0);
        return ordered ? CStatus{}
                       : Refuse(KeyPath(&key),
                                L"hivex would not put it in the order in which "
                                L"Windows looks for it");
    }

    hive_h* m_h;
    bool m_bBigDataRecords;
    const std::wstring& m_strName;
    bool m_bChanged = false;
};

// Whether the hive below node holds exactly the saved part of key: names, values and subkeys
// (not times). Walks both side by side, so that checking a written hive costs no second tree.
bool HiveHolds(hive_h* h, hive_node_h node, const CKeyNode& key, int nDepth) {
    std::vector<CValue> values;
    std::vector<CHiveChild> children;
    int err = 0;
    if (nDepth > kMaxDepth || !ReadValues(h, node, &values, &err) ||
        !SameValues(values, key.Values()) || !ReadChildren(h, node, &children, &err)) {
        return false;
    }
    std::stable_sort(children.begin(), children.end(),
                     [](const CHiveChild& a, const CHiveChild& b) {
                         return CompareNames(a.m_strName, b.m_strName) < 0;
                     });
    std::size_t j = 0;
    for (std::size_t i = 0; i < key.ChildCount(); ++i) {
        const CKeyNode* child = key.Child(i);
        if (!Saved(child)) {
            continue;
        }
        if (j == children.size() || children[j].m_strName != child->Name() ||
            !HiveHolds(h, children[j].m_hNode, *child, nDepth + 1)) {
            return false;
        }
        ++j;
    }
    return j == children.size();
}

// Reads a whole hive into pRoot. Returns the number of keys or values that were skipped.
CStatus ReadHive(const std::string& strPath, const std::wstring& strName, CKeyNode* pRoot,
                 std::vector<std::wstring>* pWarnings, std::wstring* psIncomplete) {
    struct stat st {};
    if (stat(strPath.c_str(), &st) != 0) {
        return {ERROR_CANTREAD, strName + L" cannot be read: " + Errno(errno)};
    }
    errno = 0;
    CHive hive(hivex_open(strPath.c_str(), 0));
    if (hive == nullptr) {
        return {ERROR_REGISTRY_CORRUPT, strName + L" is damaged and cannot be read (" +
                                            Errno(errno != 0 ? errno : EIO) + L")."};
    }
    CHiveReader reader(hive.get(), static_cast<std::size_t>(st.st_size), strName, pWarnings);
    const hive_node_h root = hivex_root(hive.get());
    if (root == 0 || !reader.Visit(root)) {
        return {ERROR_REGISTRY_CORRUPT, strName + L" is damaged: it has no root key."};
    }
    reader.ReadKey(root, pRoot, 0);
    psIncomplete->clear();
    if (reader.Problems() > 0) {
        *psIncomplete = std::to_wstring(reader.Problems()) +
                        L" key(s) could not be read, the first: " + reader.FirstProblem();
    }
    // Each skipped key has its line, up to a bound; the count tells how many there were in all.
    if (reader.Problems() > 1) {
        pWarnings->push_back(strName + L": " + *psIncomplete);
    }
    return {};
}

// ---- logs ----

bool ReadFileBytes(const std::string& strPath, CBytes* pOut) {
    // Without O_NONBLOCK a FIFO in place of a log would hang the open.
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    pOut->resize(ok ? static_cast<std::size_t>(st.st_size) : 0);
    std::size_t done = 0;
    while (ok && done < pOut->size()) {
        const ssize_t got = pread(fd, pOut->data() + done, pOut->size() - done,
                                  static_cast<off_t>(done));
        ok = got > 0;
        done += ok ? static_cast<std::size_t>(got) : 0;
    }
    close(fd);
    return ok;
}

// The transaction logs beside a hive (NAME.LOG1, NAME.LOG2, and the single NAME.LOG of older
// systems), found in any case as Windows would: host paths of those that exist.
std::vector<std::string> FindLogs(const std::string& strHive) {
    const std::size_t slash = strHive.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : strHive.substr(0, slash);
    const std::wstring base = FromUtf8(strHive.substr(slash + 1));
    std::vector<std::string> found(3);
    const std::wstring suffixes[] = {L".LOG1", L".LOG2", L".LOG"};
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(d)) {
            const std::wstring name = FromUtf8(entry->d_name);
            for (std::size_t i = 0; i < 3; ++i) {
                if (found[i].empty() && EqualNoCase(name, base + suffixes[i])) {
                    found[i] = dir + "/" + entry->d_name;
                }
            }
        }
        closedir(d);
    }
    std::erase_if(found, [](const std::string& s) { return s.empty(); });
    return found;
}

// Where strPath really lies when a link takes it out of strFolder; empty when it stays inside (or
// there is no folder to stay in).
std::string OutsideOf(const std::string& strPath, const std::string& strFolder) {
    if (strFolder.empty()) {
        return {};
    }
    char real[PATH_MAX];
    char folder[PATH_MAX];
    if (realpath(strPath.c_str(), real) == nullptr ||
        realpath(strFolder.c_str(), folder) == nullptr) {
        return {};
    }
    const std::string_view inside(folder);
    const std::string_view file(real);
    const bool below =
        file.starts_with(inside) &&
        (inside == "/" || (file.size() > inside.size() && file[inside.size()] == '/'));
    return below ? std::string() : std::string(real);
}

std::string FileName(const std::string& strPath) {
    return strPath.substr(strPath.rfind('/') + 1);
}

// An anonymous file holding bytes, readable by hivex through its /proc name; -1 on failure.
int MemoryFile(const CBytes& vData) {
    const int fd = memfd_create("hive", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    std::size_t done = 0;
    while (done < vData.size()) {
        const ssize_t put = write(fd, vData.data() + done, vData.size() - done);
        if (put <= 0) {
            close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(put);
    }
    return fd;
}

std::string FdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

CStatus ReadHiveHeader(const std::string& strPath, CHiveHeader* pOut) {
    unsigned char block[kHeaderSize];
    // Only a regular file is a hive; a FIFO would block the open and the read, a device or a
    // folder would read as something else.
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {ERROR_CANTREAD, WidenUtf8(strPath) + L" cannot be read: " + Errno(errno)};
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return {ERROR_NOT_REGISTRY_FILE,
                WidenUtf8(strPath) +
                    L" is not a regular file (a folder, device or pipe), so it is "
                    L"no hive."};
    }
    const ssize_t got = pread(fd, block, sizeof block, 0);
    const int err = errno;
    close(fd);
    if (got < 0) {
        return {ERROR_CANTREAD, WidenUtf8(strPath) + L" cannot be read: " + Errno(err)};
    }
    if (got < static_cast<ssize_t>(sizeof block) || std::memcmp(block, "regf", 4) != 0 ||
        Le32(block + 0x14) != 1) {
        return {ERROR_NOT_REGISTRY_FILE, WidenUtf8(strPath) + L" is not a Windows registry hive."};
    }
    std::uint32_t sum = 0;
    for (std::uint32_t off = 0; off < 0x1FC; off += 4) {
        sum ^= Le32(block + off);
    }
    sum = sum == 0xFFFFFFFFu ? 0xFFFFFFFEu : (sum == 0 ? 1 : sum);
    pOut->m_dwSequence1 = Le32(block + 0x04);
    pOut->m_dwSequence2 = Le32(block + 0x08);
    pOut->m_dwMajor = Le32(block + 0x14);
    pOut->m_dwMinor = Le32(block + 0x18);
    pOut->m_dwFileType = Le32(block + 0x1C);
    pOut->m_dwDataSize = Le32(block + 0x28);
    pOut->m_bChecksumOk = sum == Le32(block + 0x1FC);
    return {};
}

std::wstring ReadHiveRootName(const std::string& strPath) {
    CHive hive(hivex_open(strPath.c_str(), 0));
    if (hive == nullptr) {
        return {};
    }
    CMalloced<char> name(hivex_node_name(hive.get(), hivex_root(hive.get())));
    CName out;
    return name != nullptr && NameFromUtf8(name.get(), &out) ? ToWide(out) : std::wstring();
}

// ---- CHiveStore ----

// A dirty hive's replay, kept until it is written back.
struct CHiveStore::CRecovered {
    CReplay m_replay;
    std::vector<std::string> m_vLogs;  // host paths of the logs beside the hive
    int m_fd = -1;                     // the recovered hive, for hivex
    ~CRecovered() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    std::string Path() const { return FdPath(m_fd); }
};

CHiveStore::CHiveStore(std::string strPath, std::wstring strName, CVolatileMaker fnVolatile,
                       std::string strConfineTo)
    : m_strPath(std::move(strPath)),
      m_strName(std::move(strName)),
      m_fnVolatile(std::move(fnVolatile)),
      m_strConfineTo(std::move(strConfineTo)) {}

CHiveStore::~CHiveStore() {
    Abort();
}

CStatus CHiveStore::Refuse(LONG lCode, const std::wstring& strWhy) const {
    return {lCode, m_strName + L" is not written: " + strWhy + L" Nothing was changed."};
}

CStatus CHiveStore::Recover() {
    auto recovered = std::make_unique<CRecovered>();
    recovered->m_vLogs = FindLogs(m_strPath);
    if (recovered->m_vLogs.empty()) {
        m_strDirty = L"it has no .LOG1/.LOG2 files";
        return {};
    }
    CBytes primary;
    if (!ReadFileBytes(m_strPath, &primary)) {
        return {ERROR_CANTREAD, m_strName + L" cannot be read: " + Errno(errno)};
    }
    std::vector<CHiveLog> logs;
    std::wstring names;
    for (const std::string& path : recovered->m_vLogs) {
        CHiveLog log{FromUtf8(FileName(path)), {}};
        if (!ReadFileBytes(path, &log.m_vData)) {
            m_strDirty = L"its log " + log.m_strName + L" cannot be read";
            return {};
        }
        names += (names.empty() ? L"" : L", ") + log.m_strName;
        logs.push_back(std::move(log));
    }
    recovered->m_replay = ReplayHiveLogs(primary, logs);
    if (!recovered->m_replay.m_bRecovered) {
        m_strDirty =
            L"its logs (" + names + L") cannot be used: " + recovered->m_replay.m_strWhyNot;
        return {};
    }
    recovered->m_fd = MemoryFile(recovered->m_replay.m_vHive);
    if (recovered->m_fd < 0) {
        return {ERROR_OUTOFMEMORY, m_strName + L" cannot be recovered: " + Errno(errno)};
    }
    m_pRecovered = std::move(recovered);
    return {};
}

CStatus CHiveStore::Load(CKeyNode* pRoot, std::vector<std::wstring>* pWarnings) {
    Abort();
    m_pRecovered.reset();
    m_strDirty.clear();
    m_identity = IdentityOf(m_strPath);
    if (m_identity == CFileIdentity{}) {
        return {ERROR_CANTREAD, m_strName + L" cannot be read: " + Errno(errno)};
    }
    CHiveHeader header;
    CStatus status = ReadHiveHeader(m_strPath, &header);
    if (!status.Ok()) {
        status.m_strText = m_strName + L": " + status.m_strText;
        return status;
    }
    const bool dirty = header.IsDirty();
    std::string source = m_strPath;
    std::uint64_t size = static_cast<std::uint64_t>(m_identity.m_size);
    if (dirty) {
        if (status = Recover(); !status.Ok()) {
            return status;
        }
        // A replay that hivex cannot open is no recovery: the file is read as it is.
        if (m_pRecovered != nullptr && CHive(hivex_open(m_pRecovered->Path().c_str(), 0)) == nullptr) {
            m_strDirty = L"its logs replay to a hive that cannot be read";
            m_pRecovered.reset();
        }
        if (m_pRecovered != nullptr) {
            source = m_pRecovered->Path();
            size = m_pRecovered->m_replay.m_vHive.size();
            ReadHiveHeader(source, &header);
        }
    }
    // hivex refuses a base block whose checksum is wrong; say what it means.
    if (!header.m_bChecksumOk) {
        return {ERROR_REGISTRY_CORRUPT,
                m_strName +
                    L" cannot be read: its header checksum is wrong, so Windows was "
                    L"interrupted while writing it, and " +
                    m_strDirty + L". Start that Windows and shut it down cleanly first."};
    }
    if (kBaseBlockSize + static_cast<std::uint64_t>(header.m_dwDataSize) > size) {
        return {ERROR_REGISTRY_CORRUPT, m_strName +
                                            L" is damaged: the file is shorter than its "
                                            L"header says (truncated)."};
    }
    m_bBigDataRecords = header.m_dwMinor >= 4;
    status = ReadHive(source, m_strName, pRoot, pWarnings, &m_strIncomplete);
    if (!status.Ok()) {
        return status;
    }
    if (const std::string outside = OutsideOf(m_strPath, m_strConfineTo); !outside.empty()) {
        pWarnings->push_back(m_strName + L" is a link that leads out of the volume, to " +
                             FromUtf8(outside) + L"; it is read, but never written");
    }
    if (m_pRecovered != nullptr) {
        pWarnings->push_back(m_strName +
                             L" was not shut down cleanly; the newest changes were "
                             L"read from its logs: " +
                             m_pRecovered->m_replay.m_strApplied);
    } else if (dirty) {
        pWarnings->push_back(m_strName +
                             L" was not shut down cleanly: its newest changes are still in its "
                             L".LOG files and are not read (" +
                             m_strDirty + L"); it can be read but not changed");
    }
    if (m_fnVolatile) {
        m_fnVolatile(pRoot);
    }
    return status;
}

CStatus CHiveStore::CheckRestorable(const CKeyNode& key, bool bWhole) const {
    std::wstring strKey = KeyPath(&key);
    const std::wstring why = bWhole ? WhyTreeUnaddable(key, m_bBigDataRecords, &strKey)
                                    : WhyValuesUnwritable(key.Values(), m_bBigDataRecords);
    if (why.empty()) {
        return {};
    }
    return {ERROR_NOT_SUPPORTED, L"a restore could not write it back to " + m_strName +
                                     L" (the key '" + strKey + L"': " + why + L")"};
}

std::wstring CHiveStore::PendingRecovery() const {
    return m_pRecovered != nullptr ? m_strName + L": " + m_pRecovered->m_replay.m_strApplied
                                   : std::wstring();
}

CStatus CHiveStore::CheckStoreWritable() const {
    if (!m_strIncomplete.empty()) {
        return Refuse(ERROR_REGISTRY_CORRUPT,
                      L"it was not read completely (" + m_strIncomplete +
                          L"), and writing it would lose what was skipped.");
    }
    if (IdentityOf(m_strPath) != m_identity) {
        return Refuse(ERROR_CANTWRITE, L"the file changed on disk since it was read; reload it.");
    }
    CHiveHeader header;
    CStatus status = ReadHiveHeader(m_strPath, &header);
    if (!status.Ok()) {
        return Refuse(status.m_lCode, status.m_strText + L".");
    }
    if (header.IsDirty() && m_pRecovered == nullptr) {
        return Refuse(ERROR_CANTWRITE,
                      L"Windows did not shut down cleanly, and the newest changes to this hive are "
                      L"still in its logs, which writing it would discard; " +
                          m_strDirty +
                          L". Start that Windows and shut it down cleanly (a full shut-down, not "
                          L"hibernation or Fast Startup), then try again.");
    }
    if (header.m_dwFileType != 0) {
        return Refuse(ERROR_CANTWRITE, L"it is not a primary hive file.");
    }
    if (m_pRecovered != nullptr && m_strOriginals.empty()) {
        return Refuse(ERROR_CANTWRITE,
                      L"it was recovered from its logs, and only a fix or a recovery, which "
                      L"keep the original hive and logs in their backup, writes it back.");
    }
    return {};
}

// The new hive gets sequence numbers above every number in the logs, so that Windows, should it
// ever replay a log, never takes a stale entry for a newer one.
CStatus CHiveStore::PrepareRecovered(hive_h* h, CAtomicFile* pFile) {
    const std::string temp = FdPath(pFile->Fd());
    if (hivex_commit(h, temp.c_str(), 0) != 0) {
        return Refuse(ERROR_CANTWRITE,
                      L"hivex could not write the new hive (" + Errno(errno) + L").");
    }
    unsigned char block[kHeaderSize];
    if (pread(pFile->Fd(), block, sizeof block, 0) != static_cast<ssize_t>(sizeof block)) {
        return Refuse(ERROR_CANTWRITE, L"the new hive cannot be read back.");
    }
    const std::uint32_t sequence =
        std::max(m_pRecovered->m_replay.m_dwHighestSequence, Le32(block + 4)) + 1;
    for (int i = 0; i < 4; ++i) {
        block[4 + i] = block[8 + i] = static_cast<unsigned char>(sequence >> (8 * i));
    }
    const std::uint32_t sum = BaseBlockChecksum(block);
    for (int i = 0; i < 4; ++i) {
        block[0x1FC + i] = static_cast<unsigned char>(sum >> (8 * i));
    }
    if (pwrite(pFile->Fd(), block, sizeof block, 0) != static_cast<ssize_t>(sizeof block)) {
        return Refuse(ERROR_CANTWRITE, L"the new hive's header cannot be written (" +
                                           Errno(errno) + L").");
    }
    return {};
}

// The hive and logs as they were, beside the fix's backup, each synced, before anything of
// them is replaced.
CStatus CHiveStore::KeepOriginals() const {
    std::error_code ec;
    std::vector<std::string> files = m_pRecovered->m_vLogs;
    files.insert(files.begin(), m_strPath);
    for (const std::string& file : files) {
        CBytes data;
        std::string error;
        const std::string to = m_strOriginals + "/" + FileName(file);
        if (mkdir(m_strOriginals.c_str(), 0755) != 0 && errno != EEXIST) {
            error = std::strerror(errno);
        } else if (!ReadFileBytes(file, &data)) {
            error = std::strerror(errno);
        } else {
            SaveFileAtomically(to, {reinterpret_cast<const char*>(data.data()), data.size()}, error,
                               m_strConfineTo);
        }
        if (!error.empty()) {
            return Refuse(ERROR_CANTWRITE, L"the original " + FromUtf8(FileName(file)) +
                                               L" could not be kept in the backup (" +
                                               WidenUtf8(error) + L").");
        }
    }
    return {};
}

CStatus CHiveStore::EmptyLogs() {
    for (const std::string& log : m_pRecovered->m_vLogs) {
        auto file = std::make_unique<CAtomicFile>();
        if (!file->Create(log, m_strConfineTo) || !file->Finish()) {
            return WriteFailure(*file);
        }
        m_vEmptiedLogs.push_back(std::move(file));
    }
    return {};
}

CStatus CHiveStore::Prepare(const CKeyNode& root) {
    Abort();
    CStatus status = CheckStoreWritable();
    if (!status.Ok()) {
        return status;
    }
    CHiveHeader header;
    const std::string source = m_pRecovered != nullptr ? m_pRecovered->Path() : m_strPath;
    status = ReadHiveHeader(source, &header);
    if (!status.Ok()) {
        return Refuse(status.m_lCode, status.m_strText + L".");
    }
    errno = 0;
    CHive hive(hivex_open(source.c_str(), HIVEX_OPEN_WRITE));
    if (hive == nullptr) {
        return Refuse(ERROR_CANTWRITE,
                      L"hivex cannot open it for writing (" + Errno(errno) + L").");
    }
    CHiveWriter writer(hive.get(), header.m_dwMinor >= 4, m_strName);
    status = writer.SyncKey(root, hivex_root(hive.get()));
    if (!status.Ok() || (!writer.Changed() && m_pRecovered == nullptr)) {
        return status;
    }
    auto file = std::make_unique<CAtomicFile>();
    if (!file->Create(m_strPath, m_strConfineTo)) {
        return WriteFailure(*file);
    }
    // hivex writes by file name; this one reaches the temporary file we hold open.
    const std::string temp = FdPath(file->Fd());
    if (m_pRecovered != nullptr) {
        status = PrepareRecovered(hive.get(), file.get());
    } else if (hivex_commit(hive.get(), temp.c_str(), 0) != 0) {
        status = Refuse(ERROR_CANTWRITE,
                        L"hivex could not write the new hive (" + Errno(errno) + L").");
    }
    if (!status.Ok()) {
        return status;
    }
    // What hivex wrote must read back as exactly the tree; anything else is not put in place.
    CHive written(hivex_open(temp.c_str(), 0));
    if (written == nullptr || !HiveHolds(written.get(), hivex_root(written.get()), root, 0)) {
        return Refuse(ERROR_CANTWRITE, L"the hive hivex wrote does not read back as intended.");
    }
    written.reset();
    if (!file->Finish()) {
        return WriteFailure(*file);
    }
    if (m_pRecovered != nullptr) {
        if (status = KeepOriginals(); status.Ok()) {
            status = EmptyLogs();
        }
        if (!status.Ok()) {
            file->Abort();
            Abort();
            return status;
        }
    }
    m_pPrepared = std::move(file);
    return {};
}

bool CHiveStore::ChangedOnDisk() const {
    return IdentityOf(m_strPath) != m_identity;
}

// The hive goes first: once it is clean Windows ignores the logs, so a kill before the logs are
// emptied leaves nothing that could be replayed over it.
CStatus CHiveStore::Commit() {
    if (m_pPrepared == nullptr) {
        return {};
    }
    CStatus status = m_pPrepared->Commit() ? CStatus{} : WriteFailure(*m_pPrepared);
    m_pPrepared.reset();
    for (auto& log : m_vEmptiedLogs) {
        if (status.Ok() && !log->Commit()) {
            status = WriteFailure(*log);
        }
    }
    Abort();
    if (status.Ok()) {
        m_pRecovered.reset();
    }
    m_identity = IdentityOf(m_strPath);
    return status;
}

void CHiveStore::Abort() {
    if (m_pPrepared != nullptr) {
        m_pPrepared->Abort();
        m_pPrepared.reset();
    }
    for (auto& log : m_vEmptiedLogs) {
        log->Abort();
    }
    m_vEmptiedLogs.clear();
}

}  // namespace Branwick::Platform::Reg
