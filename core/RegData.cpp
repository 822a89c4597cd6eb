#include "core/RegData.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "core/Text.h"
#include "core/XmlBounds.h"
#include "platform/atomic/atomic_file.h"

namespace Branwick {

namespace {

// strPath with each trailing component that the key's real path (after views and links) names too
// written as the registry stores it, so that a restore recreates "Shell\Open" and not the
// "shell\open" a scanner happened to ask for. Only letters that compare equal ignoring ASCII case
// are taken over; a component that differs otherwise (a view's Wow6432Node) ends the walk.
std::wstring StoredCase(const std::wstring& strPath, const std::wstring& strRealPath) {
    const auto equal = [](wchar_t a, wchar_t b) {
        const auto lower = [](wchar_t c) {
            return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
        };
        return lower(a) == lower(b);
    };
    std::wstring strOut = strPath;
    std::size_t nEnd = strOut.size(), nRealEnd = strRealPath.size();
    while (nEnd > 0 && nRealEnd > 0) {
        const std::size_t nStart = strOut.rfind(L'\\', nEnd - 1) + 1;  // npos + 1 == 0
        const std::size_t nRealStart = strRealPath.rfind(L'\\', nRealEnd - 1) + 1;
        if (nEnd - nStart != nRealEnd - nRealStart ||
            !std::equal(strOut.begin() + static_cast<std::ptrdiff_t>(nStart),
                        strOut.begin() + static_cast<std::ptrdiff_t>(nEnd),
                        strRealPath.begin() + static_cast<std::ptrdiff_t>(nRealStart), equal)) {
            break;
        }
        strOut.replace(nStart, nEnd - nStart, strRealPath, nRealStart, nRealEnd - nRealStart);
        if (nStart == 0 || nRealStart == 0) {
            break;
        }
        nEnd = nStart - 1;
        nRealEnd = nRealStart - 1;
    }
    return strOut;
}

using Platform::CRegBytes;
using Platform::CRegKey;

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY: how the saver opens keys and the restorer
// creates them.
constexpr REGSAM kSaveAccess = KEY_READ | KEY_WRITE;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Index(char c) {
    const char* p = c != '\0' ? std::strchr(kAlphabet, c) : nullptr;
    return p != nullptr ? static_cast<int>(p - kAlphabet) : -1;
}

// A decimal attribute as the restorer reads it: an optional "-" and digits; anything else is 0.
// Negative numbers wrap, so a root written as -2147483646 reads back as 0x80000002.
DWORD NumberAttribute(pugi::xml_node node, const char* pszName) {
    const char* psz = node.attribute(pszName).value();
    std::int64_t n = 0;
    if (std::from_chars(psz, psz + std::strlen(psz), n).ec != std::errc()) {
        return 0;
    }
    return static_cast<DWORD>(n);
}

std::wstring TextAttribute(pugi::xml_node node, const char* pszName) {
    return Utf8ToWide(node.attribute(pszName).value());
}

void SetNumber(pugi::xml_node node, const char* pszName, long long n) {
    node.append_attribute(pszName).set_value(std::to_string(n).c_str());
}

void SetText(pugi::xml_node node, const char* pszName, const std::wstring& s) {
    node.append_attribute(pszName).set_value(WideToUtf8(s).c_str());
}

// The root handle as the file writes it: a signed 32-bit number.
long long SignedRoot(HKEY hRoot) { return static_cast<std::int32_t>(hRoot); }

// Writes a "Value" element under the key; a failed write goes unreported, as every restore error.
LONG WriteValue(const CRegKey& key, pugi::xml_node node) {
    return key.SetValue(TextAttribute(node, "name"), NumberAttribute(node, "type"),
                        Base64Decode(node.attribute("value").value()));
}

class CStringWriter : public pugi::xml_writer {
public:
    void write(const void* pData, size_t nSize) override {
        m_strText.append(static_cast<const char*>(pData), nSize);
    }
    std::string m_strText;
};

}  // namespace

// The key is saved under the root and path of the file it lives in: through a merged classes
// root a restore would create it in the machine's classes, not the user's it was taken from.
void CRegDataSaver::SaveKey(HKEY hRoot, const std::wstring& strPath, REGSAM dwView) {
    const auto [hHome, strHome] = m_registry.HomeOf(hRoot, strPath, dwView);
    CRegKey key;
    if (m_registry.OpenKey(hHome, strHome, dwView | kSaveAccess, &key) != ERROR_SUCCESS) {
        return;
    }
    pugi::xml_node element = m_parent.append_child("Registry_Key");
    SetNumber(element, "Root_key", SignedRoot(hHome));
    SetText(element, "Path", StoredCase(strHome, key.GetPath()));
    SetNumber(element, "RegSam", dwView);
    SaveContents(key, element, dwView);
}

void CRegDataSaver::SaveContents(const CRegKey& key, pugi::xml_node element, REGSAM dwView) {
    Platform::CRegKeyInfo info;
    if (key.QueryInfo(&info) != ERROR_SUCCESS) {
        return;
    }
    Platform::CRegValue value;
    for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
        pugi::xml_node child = element.append_child("Value");
        SetNumber(child, "type", value.m_dwType);
        SetText(child, "name", value.m_strName);
        SetNumber(child, "RegSam", dwView);
        child.append_attribute("value").set_value(Base64Encode(value.m_vData).c_str());
    }
    std::wstring strName;
    for (DWORD i = 0; key.EnumKey(i, &strName) == ERROR_SUCCESS; ++i) {
        CRegKey subKey;
        if (key.OpenKey(strName, dwView | kSaveAccess, &subKey) != ERROR_SUCCESS) {
            continue;
        }
        pugi::xml_node child = element.append_child("Sub_key");
        SetText(child, "name", strName);
        SaveContents(subKey, child, dwView);
    }
}

void CRegDataSaver::SaveValue(HKEY hRoot, const std::wstring& strPath, const std::wstring& strName,
                              REGSAM dwView) {
    const auto [hHome, strHome] = m_registry.HomeOf(hRoot, strPath, dwView, &strName);
    CRegKey key;
    DWORD dwType = REG_NONE;
    CRegBytes vData;
    if (m_registry.OpenKey(hHome, strHome, dwView | kSaveAccess, &key) != ERROR_SUCCESS ||
        key.QueryValue(strName, &dwType, &vData) != ERROR_SUCCESS) {
        return;
    }
    pugi::xml_node element = m_parent.append_child("INCORRECT_VALUE");
    SetNumber(element, "Root_key", SignedRoot(hHome));
    SetText(element, "Path", StoredCase(strHome, key.GetPath()));
    SetNumber(element, "type", dwType);
    SetText(element, "value_name", strName);
    SetNumber(element, "RegSam", dwView);
    element.append_attribute("value_value").set_value(Base64Encode(vData).c_str());
}

void CRegDataRestorer::Restore(pugi::xml_node node) {
    if (std::strcmp(node.name(), "Registry_Key") == 0) {
        RestoreKey(node);
    } else if (std::strcmp(node.name(), "INCORRECT_VALUE") == 0) {
        RestoreValue(node);
    }
}

void CRegDataRestorer::RestoreKey(pugi::xml_node node, const CRegKey* pParent,
                                  REGSAM dwParentView) {
    const bool bTop = std::strcmp(node.name(), "Registry_Key") == 0;
    if (!bTop && (std::strcmp(node.name(), "Sub_key") != 0 || pParent == nullptr)) {
        return;
    }
    // Files without "RegSam" were written for the 32-bit view. A "Sub_key" carries none and goes
    // where its parent went: giving it the 32-bit view would move a 64-bit key's subkeys to
    // Wow6432Node.
    REGSAM dwView = bTop ? KEY_WOW64_32KEY : dwParentView;
    if (node.attribute("RegSam")) {
        dwView = NumberAttribute(node, "RegSam");
    }
    CRegKey key;
    const LONG lResult =
        bTop ? m_registry.CreateKey(NumberAttribute(node, "Root_key"), TextAttribute(node, "Path"),
                                    dwView | kSaveAccess, &key)
             : pParent->CreateKey(TextAttribute(node, "name"), dwView | kSaveAccess, &key);
    if (lResult != ERROR_SUCCESS) {
        const std::wstring strName = bTop ? TextAttribute(node, "Path") : pParent->GetPath() + L"\\" + TextAttribute(node, "name");
        m_vcFailures.push_back(strName + L" (error " + std::to_wstring(lResult) + L")");
        return;
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (std::strcmp(child.name(), "Value") == 0) {
            if (const LONG lValue = WriteValue(key, child); lValue != ERROR_SUCCESS) {
                m_vcFailures.push_back(key.GetPath() + L" value \"" + TextAttribute(child, "name") + L"\" (error " +
                                       std::to_wstring(lValue) + L")");
            }
        } else if (std::strcmp(child.name(), "Sub_key") == 0) {
            RestoreKey(child, &key, dwView);
        }
    }
}

void CRegDataRestorer::RestoreValue(pugi::xml_node node) {
    const HKEY hRoot = NumberAttribute(node, "Root_key");
    const std::wstring strPath = TextAttribute(node, "Path");
    const REGSAM dwView = NumberAttribute(node, "RegSam");
    CRegKey key;
    LONG lResult = m_registry.OpenKey(hRoot, strPath, dwView | KEY_ALL_ACCESS, &key);
    if (lResult != ERROR_SUCCESS) {
        lResult = m_registry.CreateKey(hRoot, strPath, dwView | kSaveAccess, &key);
    }
    if (lResult == ERROR_SUCCESS) {
        lResult = key.SetValue(TextAttribute(node, "value_name"), NumberAttribute(node, "type"),
                               Base64Decode(node.attribute("value_value").value()));
    }
    if (lResult != ERROR_SUCCESS) {
        m_vcFailures.push_back(strPath + L" value \"" + TextAttribute(node, "value_name") +
                               L"\" (error " + std::to_wstring(lResult) + L")");
    }
}

std::string Base64Encode(const CRegBytes& vData) {
    std::string strOut;
    strOut.reserve((vData.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < vData.size(); i += 3) {
        const std::size_t nLeft = vData.size() - i;
        const std::uint32_t n = (vData[i] << 16) | (nLeft > 1 ? vData[i + 1] << 8 : 0) |
                                (nLeft > 2 ? vData[i + 2] : 0);
        strOut.push_back(kAlphabet[(n >> 18) & 63]);
        strOut.push_back(kAlphabet[(n >> 12) & 63]);
        strOut.push_back(nLeft > 1 ? kAlphabet[(n >> 6) & 63] : '=');
        strOut.push_back(nLeft > 2 ? kAlphabet[n & 63] : '=');
    }
    return strOut;
}

CRegBytes Base64Decode(std::string_view strText) {
    CRegBytes vOut;
    std::uint32_t n = 0;
    int nChars = 0;
    for (char c : strText) {
        const int nIndex = Base64Index(c);
        if (nIndex < 0) {
            break;
        }
        n = (n << 6) | static_cast<std::uint32_t>(nIndex);
        if (++nChars == 4) {
            vOut.push_back(static_cast<std::uint8_t>(n >> 16));
            vOut.push_back(static_cast<std::uint8_t>(n >> 8));
            vOut.push_back(static_cast<std::uint8_t>(n));
            n = 0;
            nChars = 0;
        }
    }
    if (nChars == 2) {
        vOut.push_back(static_cast<std::uint8_t>(n >> 4));
    } else if (nChars == 3) {
        vOut.push_back(static_cast<std::uint8_t>(n >> 10));
        vOut.push_back(static_cast<std::uint8_t>(n >> 2));
    }
    return vOut;
}

pugi::xml_node CreateBackupDocument(pugi::xml_document& doc) {
    doc.reset();
    return doc.append_child("Backup");
}

std::string BackupDocumentText(const pugi::xml_document& doc) {
    CStringWriter writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.m_strText;
}

bool SaveBackupDocument(const pugi::xml_document& doc, const std::string& strHostPath,
                        std::wstring& strError) {
    std::string strHostError;
    if (!Platform::SaveFileAtomically(strHostPath, BackupDocumentText(doc), strHostError)) {
        strError = Utf8ToWide(strHostError);
        return false;
    }
    return true;
}

bool LoadBackupDocument(std::string_view strBytes, pugi::xml_document& doc,
                        std::wstring& strError) {
    const pugi::xml_parse_result result = doc.load_buffer(strBytes.data(), strBytes.size());
    if (!result) {
        strError = FormatText(L"The backup file is not well-formed XML (%s at byte %lld).",
                              result.description(), static_cast<long long>(result.offset));
    } else if (std::strcmp(doc.document_element().name(), "Backup") != 0) {
        strError = L"The backup file has no \"Backup\" element.";
    } else if (PruneDeeperThan(doc) != 0) {
        // Restoring it would recurse as deep, and the registry holds no more than 512 levels.
        strError = FormatText(L"The backup file nests keys more than %d levels deep, which no registry can hold.",
                              kMaxXmlDepth);
    } else {
        return true;
    }
    doc.reset();
    return false;
}

}  // namespace Branwick
