#include "platform/shelllink/shelllink.h"

#include <liblnk.h>

#include <cstdint>
#include <vector>

#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

// liblnk reads the file itself. Its memory-range input is not used: libbfio 20170123 copies a full
// read from a memory range even past its end, so a truncated link would be read out of bounds.
class CLinkFile {
public:
    explicit CLinkFile(const std::string& strHost) {
        if (liblnk_file_initialize(&m_pFile, nullptr) == 1) {
            m_bOpen = liblnk_file_open(m_pFile, strHost.c_str(), LIBLNK_OPEN_READ, nullptr) == 1;
        }
    }
    ~CLinkFile() {
        if (m_bOpen) {
            liblnk_file_close(m_pFile, nullptr);
        }
        if (m_pFile) {
            liblnk_file_free(&m_pFile, nullptr);
        }
    }
    CLinkFile(const CLinkFile&) = delete;
    CLinkFile& operator=(const CLinkFile&) = delete;

    bool IsOpen() const { return m_bOpen; }

    // One of liblnk's UTF-8 string fields; empty when absent or unreadable.
    template <typename SizeFn, typename GetFn>
    std::wstring Text(SizeFn size, GetFn get) const {
        std::size_t n = 0;
        if (size(m_pFile, &n, nullptr) != 1 || n == 0) {
            return {};
        }
        std::vector<std::uint8_t> buf(n);
        if (get(m_pFile, buf.data(), n, nullptr) != 1) {
            return {};
        }
        return FromUtf8(std::string(reinterpret_cast<const char*>(buf.data())));
    }

private:
    liblnk_file_t* m_pFile = nullptr;
    bool m_bOpen = false;
};

void PutU16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

// Windows-1252 equals Latin-1 from 0xA0 up; anything else outside ASCII has no ANSI spelling.
std::string Ansi(const std::wstring& str) {
    std::string out;
    for (wchar_t ch : str) {
        out += (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) ? static_cast<char>(ch) : '?';
    }
    return out + '\0';
}

std::string Utf16(const std::wstring& str) {
    const std::vector<std::uint8_t> v = ToUtf16Le(str, true);
    return std::string(v.begin(), v.end());
}

std::string LinkInfo(const std::wstring& strBase, const std::wstring& strSuffix) {
    constexpr std::uint32_t kHeaderSize = 0x24;  // with the Unicode offsets
    std::string volume;
    PutU32(volume, 0x11);        // VolumeIDSize
    PutU32(volume, 3);           // DRIVE_FIXED
    PutU32(volume, 0x1234ABCD);  // serial number
    PutU32(volume, 0x10);        // label offset: an empty label follows
    volume += '\0';
    const std::string fields[] = {volume, Ansi(strBase), Ansi(strSuffix), Utf16(strBase), Utf16(strSuffix)};
    std::uint32_t offsets[5];
    std::string body;
    for (int i = 0; i < 5; ++i) {
        offsets[i] = kHeaderSize + static_cast<std::uint32_t>(body.size());
        body += fields[i];
    }
    std::string info;
    PutU32(info, kHeaderSize + static_cast<std::uint32_t>(body.size()));
    PutU32(info, kHeaderSize);
    PutU32(info, 1);  // VolumeIDAndLocalBasePath
    PutU32(info, offsets[0]);
    PutU32(info, offsets[1]);
    PutU32(info, 0);  // no network part
    PutU32(info, offsets[2]);
    PutU32(info, offsets[3]);
    PutU32(info, offsets[4]);
    return info + body;
}

}  // namespace

std::string MakeShellLink(const std::wstring& strTarget) {
    static const unsigned char kClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    const std::size_t split = strTarget.find_last_of(L'\\') + 1;  // 0 when there is no '\'
    std::string out;
    PutU32(out, 0x4C);
    out.append(reinterpret_cast<const char*>(kClsid), sizeof kClsid);
    PutU32(out, 0x2 | 0x80);  // HasLinkInfo | IsUnicode
    PutU32(out, 0x20);        // FILE_ATTRIBUTE_ARCHIVE
    for (int i = 0; i < 6; ++i) {
        PutU32(out, 0);  // creation, access and write times
    }
    PutU32(out, 0);  // file size
    PutU32(out, 0);  // icon index
    PutU32(out, 1);  // SW_SHOWNORMAL
    PutU16(out, 0);  // hot key
    PutU16(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    out += LinkInfo(strTarget.substr(0, split), strTarget.substr(split));
    PutU32(out, 0);  // terminal block
    return out;
}

HRESULT GetLinkPath(const CFileSystem& files, const std::wstring& strLink, std::wstring& strPath) {
    strPath.clear();
    std::string strHost;
    // INVALID_FILE_ATTRIBUTES has the folder bit too: a missing file is no link either.
    if ((files.GetFileAttributes(strLink) & FILE_ATTRIBUTE_DIRECTORY) || !files.HostPath(strLink, strHost).Ok()) {
        return E_FAIL;
    }
    const CLinkFile link(strHost);
    if (!link.IsOpen()) {
        return E_FAIL;
    }
    strPath = link.Text(liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path);
    if (strPath.empty()) {
        strPath = link.Text(liblnk_file_get_utf8_environment_variables_location_size,
                            liblnk_file_get_utf8_environment_variables_location);
    }
    if (strPath.empty()) {
        strPath = link.Text(liblnk_file_get_utf8_network_path_size, liblnk_file_get_utf8_network_path);
    }
    return strPath.empty() ? S_FALSE : S_OK;
}

}  // namespace Branwick::Platform
