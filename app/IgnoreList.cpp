#include "app/IgnoreList.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <sstream>

#include "core/Text.h"
#include "core/XmlBounds.h"

namespace Branwick {
namespace {

// A decimal integer; false for anything else.
bool ParseInteger(const char* pszText, std::int64_t& nValue) {
    const std::string_view text(pszText);
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), nValue);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// The entry of a "REG_ERROR" element; false when "hRoot" or "Path" is missing or unreadable.
bool ReadEntry(const pugi::xml_node& element, CIgnoreEntry& entry) {
    std::int64_t nRoot = 0;
    const pugi::xml_attribute path = element.attribute("Path");
    if (!ParseInteger(element.attribute("hRoot").value(), nRoot) || nRoot < INT32_MIN ||
        nRoot > UINT32_MAX || !path) {
        return false;
    }
    entry.m_hRoot = static_cast<HKEY>(nRoot);
    entry.m_strPath = Utf8ToWide(path.value());
    std::int64_t nRegSam = 0;
    const bool bView = ParseInteger(element.attribute("RegSam").value(), nRegSam) &&
                       (nRegSam == KEY_WOW64_64KEY || nRegSam == KEY_WOW64_32KEY);
    entry.m_dwRegSam = bView ? static_cast<REGSAM>(nRegSam) : KEY_WOW64_32KEY;
    for (pugi::xml_node value : element.children()) {
        if (value.type() == pugi::node_element) {
            entry.m_vcValues.push_back(Utf8ToWide(value.text().get()));
        }
    }
    return true;
}

std::vector<std::wstring> FixDescriptions(const CRegError& record) {
    std::vector<std::wstring> descriptions;
    for (const std::unique_ptr<IFix>& pFix : record.GetFixes()) {
        descriptions.push_back(pFix->GetDescription());
    }
    return descriptions;
}

// Pairwise from the first; the walk ends where either text is empty (past the end of a list is
// empty), and the two match only if both are empty there.
bool SameValues(const std::vector<std::wstring>& values, const std::vector<std::wstring>& fixes) {
    static const std::wstring kEmpty;
    for (size_t i = 0;; ++i) {
        const std::wstring& a = i < values.size() ? values[i] : kEmpty;
        const std::wstring& b = i < fixes.size() ? fixes[i] : kEmpty;
        if (a.empty() || b.empty()) {
            return a.empty() && b.empty();
        }
        if (a != b) {
            return false;
        }
    }
}

}  // namespace

CIgnoreList::CIgnoreList(Platform::CFileSystem& files, const std::wstring& strDataFolder,
                         const Platform::CTarget* pTarget)
    : m_files(files),
      m_pTarget(pTarget),
      m_strFolder(strDataFolder),
      m_strPath(strDataFolder + L"ignorelist.xml") {
    Load();
}

CIgnoreList::~CIgnoreList() {
    if (m_bChanged) {
        Save();
    }
}

bool CIgnoreList::LockAndReload(Platform::CWriterLock& lock) {
    if (m_pTarget == nullptr) {
        return true;
    }
    if (!lock.Acquire(*m_pTarget, Platform::kWriterWaitMs, m_strLastError)) {
        return false;
    }
    m_map.clear();
    m_vcForeign.clear();
    Load();
    return true;
}

void CIgnoreList::Load() {
    std::string strText;
    if (!m_files.ReadFile(m_strPath, strText).Ok()) {
        return;
    }
    pugi::xml_document doc;
    bool bWhole = strText.size() <= kMaxXmlFileBytes &&
                  doc.load_buffer(strText.data(), strText.size(),
                                  pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_utf8);
    bWhole = PruneDeeperThan(doc) == 0 && bWhole;
    m_vcForeign.clear();
    for (pugi::xml_node category : doc.document_element().children()) {
        if (category.type() != pugi::node_element) {
            continue;
        }
        const std::int32_t nScanType = ScanTypeFromKey(Utf8ToWide(category.name()));
        if (nScanType == 0) {
            std::ostringstream out;
            category.print(out, "", pugi::format_raw);
            m_vcForeign.push_back(out.str());
            continue;
        }
        std::list<CIgnoreEntry> entries;
        for (pugi::xml_node element : category.children()) {
            CIgnoreEntry entry;
            if (element.type() != pugi::node_element) {
                continue;
            }
            if (ReadEntry(element, entry)) {
                entries.push_back(std::move(entry));
            } else {
                bWhole = false;
            }
        }
        m_map[nScanType] = std::move(entries);
    }
    if (!bWhole) {
        m_strDamaged = std::move(strText);
    }
}

bool CIgnoreList::Save() {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("IgnoreList");
    for (const auto& [nScanType, entries] : m_map) {
        if (entries.empty()) {
            continue;
        }
        pugi::xml_node category = root.append_child(WideToUtf8(ScanTypeKey(nScanType)).c_str());
        for (const CIgnoreEntry& entry : entries) {
            pugi::xml_node element = category.append_child("REG_ERROR");
            element.append_attribute("hRoot") = static_cast<std::int32_t>(entry.m_hRoot);
            element.append_attribute("Path") = WideToUtf8(entry.m_strPath).c_str();
            element.append_attribute("RegSam") = entry.m_dwRegSam;
            for (const std::wstring& strValue : entry.m_vcValues) {
                element.append_child("VALUE").text() = WideToUtf8(strValue).c_str();
            }
        }
    }
    for (const std::string& strForeign : m_vcForeign) {
        pugi::xml_document fragment;
        if (fragment.load_string(strForeign.c_str(),
                                 pugi::parse_default | pugi::parse_ws_pcdata_single)) {
            root.append_copy(fragment.document_element());
        }
    }
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    Platform::CWriterLock lock;
    m_strLastError.clear();
    if (m_pTarget != nullptr && !lock.Acquire(*m_pTarget, Platform::kWriterWaitMs, m_strLastError)) {
        return false;
    }
    if (const CStatus status = m_files.CreateFolders(m_strFolder); !status.Ok()) {
        m_strLastError = L"The ignore list could not be saved: " + status.m_strText + L".";
        return false;
    }
    // What could not be read is kept beside the list, since this save replaces the file.
    if (!m_strDamaged.empty() && m_files.WriteFile(m_strPath + L".bad", m_strDamaged).Ok()) {
        m_strDamaged.clear();
    }
    const CStatus status = m_files.WriteFile(m_strPath, out.str());
    if (!status.Ok()) {
        m_strLastError = L"The ignore list could not be saved: " + status.m_strText + L".";
        return false;
    }
    m_bChanged = false;
    return true;
}

bool CIgnoreList::Add(std::int32_t nScanType, const CRegError& record) {
    CIgnoreEntry entry;
    entry.m_vcValues = FixDescriptions(record);
    entry.m_hRoot = record.m_hRoot;
    entry.m_strPath = record.GetFullPath();
    entry.m_dwRegSam = record.m_dwRegSam;
    Platform::CWriterLock lock;
    const bool bLocked = LockAndReload(lock);
    m_map[nScanType].push_back(std::move(entry));
    // A failed save is tried again at the end.
    m_bChanged = true;
    return bLocked && Save();
}

bool CIgnoreList::Remove(std::int32_t nScanType, const CIgnoreEntry* pEntry) {
    const auto mine = m_map.find(nScanType);
    if (mine == m_map.end() ||
        std::none_of(mine->second.begin(), mine->second.end(), [pEntry](const CIgnoreEntry& entry) { return &entry == pEntry; })) {
        return true;
    }
    const CIgnoreEntry gone = *pEntry;
    Platform::CWriterLock lock;
    if (!LockAndReload(lock)) {
        return false;
    }
    auto& entries = m_map[nScanType];
    const auto found = std::find(entries.begin(), entries.end(), gone);
    if (found == entries.end()) {
        return true;
    }
    entries.erase(found);
    // Saved at once: the next change reads the file again under the lock, which would bring back
    // an entry removed only in memory.
    m_bChanged = true;
    return Save();
}

bool CIgnoreList::IsIgnored(std::int32_t nScanType, const CRegError& record) const {
    auto it = m_map.find(nScanType);
    if (it == m_map.end()) {
        return false;
    }
    const std::wstring strPath = record.GetFullPath();
    const std::vector<std::wstring> fixes = FixDescriptions(record);
    for (const CIgnoreEntry& entry : it->second) {
        if (entry.m_strPath == strPath && entry.m_hRoot == record.m_hRoot &&
            entry.m_vcValues.size() == fixes.size() && entry.m_dwRegSam == record.m_dwRegSam &&
            SameValues(entry.m_vcValues, fixes)) {
            return true;
        }
    }
    return false;
}

size_t CIgnoreList::GetCount(std::int32_t nScanType) const {
    auto it = m_map.find(nScanType);
    return it == m_map.end() ? 0 : it->second.size();
}

const std::list<CIgnoreEntry>& CIgnoreList::GetEntries(std::int32_t nScanType) const {
    static const std::list<CIgnoreEntry> kNone;
    auto it = m_map.find(nScanType);
    return it == m_map.end() ? kNone : it->second;
}

}  // namespace Branwick
