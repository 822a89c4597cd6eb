#include "tools/ProcessManager/PeFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Branwick::Tools {

namespace {

constexpr std::uint32_t kMaxSections = 96;          // the loader's own limit
constexpr std::uint32_t kMaxVersionResource = 0xffff;  // wLength is 16 bits
constexpr std::size_t kMaxDescription = 259;
constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kMaxDirectoryEntries = 4096;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::size_t Align4(std::size_t n) { return (n + 3) & ~static_cast<std::size_t>(3); }

// One block of a version resource: a length, a value and child blocks, all within its parent.
struct CVersionBlock {
    std::u16string m_strKey;
    std::size_t m_nValue = 0;     // offset of the value
    std::size_t m_nChildren = 0;  // offset of the first child
    std::size_t m_nEnd = 0;
};

bool ParseBlock(std::string_view data, std::size_t nAt, std::size_t nParentEnd, CVersionBlock& block) {
    if (nAt + 6 > nParentEnd) {
        return false;
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    const std::size_t nLength = U16(p + nAt);
    const std::size_t nValueLength = U16(p + nAt + 2);
    const bool bText = U16(p + nAt + 4) == 1;
    if (nLength < 6) {
        return false;
    }
    block.m_nEnd = std::min(nAt + nLength, nParentEnd);
    block.m_strKey.clear();
    std::size_t q = nAt + 6;
    for (; q + 2 <= block.m_nEnd && U16(p + q) != 0; q += 2) {
        block.m_strKey.push_back(static_cast<char16_t>(U16(p + q)));
    }
    block.m_nValue = std::min(Align4(q + 2), block.m_nEnd);
    block.m_nChildren = std::min(Align4(block.m_nValue + nValueLength * (bText ? 2 : 1)), block.m_nEnd);
    return true;
}

bool KeyIs(const std::u16string& strKey, std::string_view name) {
    return strKey.size() == name.size() &&
           std::equal(strKey.begin(), strKey.end(), name.begin(), [](char16_t a, char b) {
               auto lower = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
               return lower(a) == lower(static_cast<unsigned char>(b));
           });
}

// The child of the block with that key (compared as Windows compares them, ignoring ASCII case).
bool FindChild(std::string_view data, const CVersionBlock& parent, std::string_view key, CVersionBlock& child) {
    for (std::size_t q = parent.m_nChildren; ParseBlock(data, q, parent.m_nEnd, child); q = Align4(child.m_nEnd)) {
        if (KeyIs(child.m_strKey, key)) {
            return true;
        }
    }
    return false;
}

std::wstring TextValue(std::string_view data, const CVersionBlock& block) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    std::u16string str;
    for (std::size_t q = block.m_nValue; q + 2 <= block.m_nEnd && U16(p + q) != 0; q += 2) {
        str.push_back(static_cast<char16_t>(U16(p + q)));
    }
    std::wstring out;
    for (std::size_t i = 0; i < str.size() && out.size() < kMaxDescription; ++i) {
        char32_t c = str[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < str.size() && str[i + 1] >= 0xDC00 && str[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (str[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

}  // namespace

bool CMemorySource::Read(std::uint64_t nOffset, void* pOut, std::size_t nSize) {
    if (nOffset > m_data.size() || nSize > m_data.size() - nOffset) {
        return false;
    }
    if (nSize != 0) {  // an empty buffer may have no address at all
        std::memcpy(pOut, m_data.data() + nOffset, nSize);
    }
    return true;
}

CFileSource::CFileSource(const std::string& strPath) : m_in(strPath, std::ios::binary) {
    if (m_in) {
        m_in.seekg(0, std::ios::end);
        const std::streamoff nEnd = m_in.tellg();
        m_bOpen = nEnd >= 0;
        m_nSize = m_bOpen ? static_cast<std::uint64_t>(nEnd) : 0;
    }
}

bool CFileSource::Read(std::uint64_t nOffset, void* pOut, std::size_t nSize) {
    if (!m_bOpen || nOffset > m_nSize || nSize > m_nSize - nOffset) {
        return false;
    }
    m_in.clear();
    m_in.seekg(static_cast<std::streamoff>(nOffset));
    m_in.read(static_cast<char*>(pOut), static_cast<std::streamsize>(nSize));
    return static_cast<std::size_t>(m_in.gcount()) == nSize;
}

CPeFile::CPeFile(IByteSource& source) : m_source(source) { m_bPe = ParseHeaders(); }

bool CPeFile::ParseHeaders() {
    std::uint8_t dos[64];
    if (!m_source.Read(0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    const std::uint64_t nPe = U32(dos + 0x3c);
    std::uint8_t coff[24];
    if (!m_source.Read(nPe, coff, sizeof(coff)) || std::memcmp(coff, "PE\0\0", 4) != 0) {
        return false;
    }
    const std::uint32_t nSections = U16(coff + 4 + 2);
    const std::uint32_t nOptionalSize = U16(coff + 4 + 16);
    const std::uint64_t nOptional = nPe + 24;
    std::vector<std::uint8_t> optional(nOptionalSize);
    if (nSections > kMaxSections || nOptionalSize < 2 || !m_source.Read(nOptional, optional.data(), optional.size())) {
        return false;
    }
    const std::uint16_t nMagic = U16(optional.data());
    if (nMagic != 0x10b && nMagic != 0x20b) {
        return false;
    }
    // PE32+ has a 64-bit image base and stack sizes, which moves the directories by 16 bytes.
    const std::size_t nCountAt = nMagic == 0x20b ? 108 : 92;
    const std::size_t nDirsAt = nCountAt + 4;
    if (optional.size() < nDirsAt) {
        return false;
    }
    m_nChecksumOffset = nOptional + 64;
    const std::uint32_t nDirs = std::min<std::uint32_t>(U32(optional.data() + nCountAt),
                                                        static_cast<std::uint32_t>((optional.size() - nDirsAt) / 8));
    auto directory = [&](std::uint32_t n, std::uint32_t& nAddress, std::uint32_t& nSize) {
        if (n < nDirs) {
            nAddress = U32(optional.data() + nDirsAt + 8 * n);
            nSize = U32(optional.data() + nDirsAt + 8 * n + 4);
        }
    };
    directory(2, m_nResourceRva, m_nResourceSize);
    directory(4, m_nSecurityOffset, m_nSecuritySize);
    m_nSecurityEntryOffset = nDirs > 4 ? nOptional + nDirsAt + 8 * 4 : 0;

    std::vector<std::uint8_t> table(static_cast<std::size_t>(nSections) * 40);
    if (!m_source.Read(nOptional + nOptionalSize, table.data(), table.size())) {
        return false;
    }
    for (std::uint32_t i = 0; i < nSections; ++i) {
        const std::uint8_t* s = table.data() + 40 * i;
        m_vcSections.push_back({U32(s + 12), U32(s + 8), U32(s + 16), U32(s + 20)});
    }
    return true;
}

bool CPeFile::RvaToOffset(std::uint32_t nRva, std::uint32_t nSize, std::uint64_t& nOffset) const {
    for (const CSection& s : m_vcSections) {
        const std::uint64_t nStart = s.m_nVirtualAddress;
        const std::uint64_t nEnd = nStart + s.m_nRawSize;  // only what the file holds
        if (nRva >= nStart && static_cast<std::uint64_t>(nRva) + nSize <= nEnd) {
            nOffset = static_cast<std::uint64_t>(s.m_nRawOffset) + (nRva - nStart);
            return nOffset + nSize <= m_source.Size();
        }
    }
    return false;
}

// Follows the resource tree: type RT_VERSION, then the first name, then the first language.
bool CPeFile::ReadVersionResource(std::string& strOut) {
    std::uint64_t nRoot = 0;
    if (!m_bPe || m_nResourceSize < 16 || !RvaToOffset(m_nResourceRva, 16, nRoot)) {
        return false;
    }
    std::uint32_t nDirectory = 0;  // relative to the root
    for (int nLevel = 0; nLevel < 3; ++nLevel) {
        std::uint8_t head[16];
        if (!m_source.Read(nRoot + nDirectory, head, sizeof(head))) {
            return false;
        }
        const std::uint32_t nEntries = std::min<std::uint32_t>(U16(head + 12) + U16(head + 14), kMaxDirectoryEntries);
        bool bFound = false;
        for (std::uint32_t i = 0; i < nEntries && !bFound; ++i) {
            std::uint8_t entry[8];
            if (!m_source.Read(nRoot + nDirectory + 16 + 8 * static_cast<std::uint64_t>(i), entry, sizeof(entry))) {
                return false;
            }
            const std::uint32_t nName = U32(entry);
            const std::uint32_t nTarget = U32(entry + 4);
            if (nLevel == 0 && nName != kResourceTypeVersion) {
                continue;
            }
            const bool bSubdirectory = (nTarget & 0x80000000U) != 0;
            if (bSubdirectory != (nLevel < 2)) {
                return false;
            }
            nDirectory = nTarget & 0x7fffffffU;
            bFound = true;
        }
        if (!bFound || nDirectory >= m_nResourceSize) {
            return false;
        }
    }
    std::uint8_t data[16];
    std::uint64_t nData = 0;
    if (!m_source.Read(nRoot + nDirectory, data, sizeof(data))) {
        return false;
    }
    const std::uint32_t nSize = std::min(U32(data + 4), kMaxVersionResource);
    if (nSize == 0 || !RvaToOffset(U32(data), nSize, nData)) {
        return false;
    }
    strOut.resize(nSize);
    return m_source.Read(nData, strOut.data(), nSize);
}

std::wstring CPeFile::FileDescription() {
    std::string data;
    if (!ReadVersionResource(data)) {
        return {};
    }
    CVersionBlock root;
    CVersionBlock var;
    CVersionBlock translation;
    if (!ParseBlock(data, 0, data.size(), root) || !KeyIs(root.m_strKey, "VS_VERSION_INFO") ||
        !FindChild(data, root, "VarFileInfo", var) || !FindChild(data, var, "Translation", translation) ||
        translation.m_nValue + 4 > translation.m_nEnd) {
        return {};
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data()) + translation.m_nValue;
    char key[16];
    std::snprintf(key, sizeof(key), "%04x%04x", U16(p), U16(p + 2));
    CVersionBlock strings;
    CVersionBlock table;
    CVersionBlock description;
    if (!FindChild(data, root, "StringFileInfo", strings) || !FindChild(data, strings, key, table) ||
        !FindChild(data, table, "FileDescription", description)) {
        return {};
    }
    return TextValue(data, description);
}

}  // namespace Branwick::Tools
