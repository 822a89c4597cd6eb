#include "platform/shelllink/shelllink.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace Branwick;
using namespace Branwick::Platform;

namespace {

// Builds .lnk files the way the format describes them, independently of MakeShellLink, so that
// every shape liblnk may meet can be tried.
struct CLinkSpec {
    std::optional<std::string> local, net, device, env, relative;
    std::string suffix;
    bool bUnicode = false;
    bool bIdList = false;
};

void U16(std::string& o, std::uint32_t v) { o += char(v & 0xFF), o += char((v >> 8) & 0xFF); }
void U32(std::string& o, std::uint32_t v) { U16(o, v & 0xFFFF), U16(o, v >> 16); }
std::string Z(const std::string& s) { return s + '\0'; }
std::string ZW(const std::string& ascii) {
    std::string o;
    for (char c : ascii) {
        U16(o, static_cast<unsigned char>(c));
    }
    U16(o, 0);
    return o;
}

std::string LinkInfo(const CLinkSpec& s) {
    const std::uint32_t hdr = s.bUnicode ? 0x24 : 0x1C;
    std::string body;
    std::uint32_t vol = 0, lbp = 0, cnrl = 0, cps = 0, lbpu = 0, cpsu = 0;
    if (s.local) {
        vol = hdr + body.size();
        U32(body, 0x11), U32(body, 3), U32(body, 0x1234ABCD), U32(body, 0x10), body += '\0';
        lbp = hdr + body.size();
        body += Z(*s.local);
    }
    if (s.net) {
        const std::string nn = Z(*s.net), dn = s.device ? Z(*s.device) : "";
        std::string rec;
        U32(rec, 0x14 + nn.size() + dn.size()), U32(rec, 2 | (s.device ? 1 : 0)), U32(rec, 0x14);
        U32(rec, s.device ? 0x14 + nn.size() : 0), U32(rec, 0x20000);
        cnrl = hdr + body.size();
        body += rec + nn + dn;
    }
    cps = hdr + body.size();
    body += Z(s.suffix);
    if (s.bUnicode) {
        if (s.local) {
            lbpu = hdr + body.size();
            body += ZW(*s.local);
        }
        cpsu = hdr + body.size();
        body += ZW(s.suffix);
    }
    std::string head;
    U32(head, hdr + body.size()), U32(head, hdr), U32(head, (s.local ? 1 : 0) | (s.net ? 2 : 0));
    U32(head, vol), U32(head, lbp), U32(head, cnrl), U32(head, cps);
    if (s.bUnicode) {
        U32(head, lbpu), U32(head, cpsu);
    }
    return head + body;
}

std::string Build(const CLinkSpec& s) {
    static const unsigned char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    std::uint32_t flags = 0x80;
    std::string li, strings, extra;
    if (s.bIdList) {
        flags |= 0x1;
    }
    if (s.local || s.net) {
        flags |= 0x2;
        li = LinkInfo(s);
    }
    if (s.relative) {
        flags |= 0x8;
        U16(strings, s.relative->size());
        strings += ZW(*s.relative).substr(0, 2 * s.relative->size());
    }
    if (s.env) {
        flags |= 0x200;
        U32(extra, 0x314), U32(extra, 0xA0000001);
        std::string ansi = *s.env, wide = ZW(*s.env);
        ansi.resize(260, '\0'), wide.resize(520, '\0');
        extra += ansi + wide;
    }
    std::string out;
    U32(out, 0x4C);
    out.append(reinterpret_cast<const char*>(clsid), 16);
    U32(out, flags), U32(out, 0x20);
    for (int i = 0; i < 6; ++i) {
        U32(out, i % 2 ? 0x01D00000 : 0);
    }
    U32(out, 0), U32(out, 0), U32(out, 1), U16(out, 0), U16(out, 0), U32(out, 0), U32(out, 0);
    if (s.bIdList) {
        U16(out, 2), U16(out, 0);  // an empty ID list
    }
    return out + li + strings + extra + std::string(4, '\0');
}

// A temp folder as drive C: of a test target; each link is written there and read back.
class CDrive {
public:
    CDrive() : m_dir(std::filesystem::temp_directory_path() / ("corvane-lnk-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(m_dir);
        CDriveMap map;
        map.m_mapDrives[L'C'] = m_dir.string();
        map.m_vcOwnRoots.push_back(m_dir.string());
        m_pFiles = std::make_unique<CFileSystem>(map);
    }
    ~CDrive() { std::filesystem::remove_all(m_dir); }
    HRESULT PathOf(const std::string& bytes, std::wstring& path) {
        std::ofstream(m_dir / "Test.lnk", std::ios::binary | std::ios::trunc) << bytes;
        return GetLinkPath(*m_pFiles, L"C:\\test.LNK", path);
    }
    CFileSystem& Files() { return *m_pFiles; }

private:
    std::filesystem::path m_dir;
    std::unique_ptr<CFileSystem> m_pFiles;
};

class ShellLink : public ::testing::Test {
protected:
    HRESULT PathOf(const std::string& bytes, std::wstring& path) { return m_drive.PathOf(bytes, path); }
    CDrive m_drive;
};

}  // namespace

TEST_F(ShellLink, LocalTargetsJoinBasePathAndSuffix) {
    std::wstring path;
    EXPECT_EQ(PathOf(Build({.local = "C:\\Apps\\", .suffix = "tool.exe"}), path), S_OK);
    EXPECT_EQ(path, L"C:\\Apps\\tool.exe");
    EXPECT_EQ(PathOf(Build({.local = "C:\\Apps\\tool.exe", .suffix = "", .bUnicode = true}), path), S_OK);
    EXPECT_EQ(path, L"C:\\Apps\\tool.exe");
    // ANSI paths are Windows-1252.
    EXPECT_EQ(PathOf(Build({.local = "C:\\\xdc" "ber\\", .suffix = "x.exe"}), path), S_OK);
    EXPECT_EQ(path, L"C:\\\u00dcber\\x.exe");
    // A link to a file that does not exist still gives its path: existence is the caller's test.
    EXPECT_EQ(PathOf(Build({.local = "C:\\does\\not\\exist.exe", .bIdList = true}), path), S_OK);
    EXPECT_EQ(path, L"C:\\does\\not\\exist.exe");
}

TEST_F(ShellLink, NetworkAndEnvironmentTargets) {
    std::wstring path;
    EXPECT_EQ(PathOf(Build({.net = "\\\\server\\share", .device = "Z:", .suffix = "dir\\tool.exe"}), path), S_OK);
    EXPECT_EQ(path, L"\\\\server\\share\\dir\\tool.exe");
    EXPECT_EQ(PathOf(Build({.env = "%ProgramFiles%\\App\\app.exe", .bIdList = true}), path), S_OK);
    EXPECT_EQ(path, L"%ProgramFiles%\\App\\app.exe");
    // The local path wins when both are there.
    EXPECT_EQ(PathOf(Build({.local = "C:\\P\\", .env = "%X%\\a.exe", .suffix = "a.exe"}), path), S_OK);
    EXPECT_EQ(path, L"C:\\P\\a.exe");
}

TEST_F(ShellLink, LinksWithoutAFileSystemTargetGiveNoPath) {
    std::wstring path = L"stale";
    EXPECT_EQ(PathOf(Build({.bIdList = true}), path), S_FALSE);  // a shell folder
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(PathOf(Build({.relative = "..\\x.exe"}), path), S_FALSE);
}

TEST_F(ShellLink, BrokenInputGivesNoPathAndNoCrash) {
    std::wstring path;
    EXPECT_EQ(GetLinkPath(m_drive.Files(), L"C:\\missing.lnk", path), E_FAIL);
    EXPECT_EQ(GetLinkPath(m_drive.Files(), L"C:\\", path), E_FAIL);
    EXPECT_EQ(PathOf("", path), E_FAIL);
    EXPECT_EQ(PathOf("not a link at all, just some text of a decent length for a header.........", path), E_FAIL);
    std::string bad = Build({.local = "C:\\a\\", .suffix = "b.exe"});
    bad[4] ^= 0x55;  // the class identifier
    EXPECT_EQ(PathOf(bad, path), E_FAIL);

    // Every truncation either fails or still names the right target: never a wrong path.
    const std::string good = Build({.local = "C:\\Apps\\", .env = "%A%\\t.exe", .suffix = "tool.exe", .bUnicode = true});
    for (std::size_t n = 0; n < good.size(); ++n) {
        const HRESULT hr = PathOf(good.substr(0, n), path);
        if (hr == S_OK) {
            EXPECT_TRUE(path == L"C:\\Apps\\tool.exe" || path == L"%A%\\t.exe") << n;
        } else {
            EXPECT_TRUE(path.empty()) << n;
        }
    }
    EXPECT_EQ(PathOf(good.substr(0, 40), path), E_FAIL);
    EXPECT_TRUE(path.empty());

    // LinkInfo claiming to be larger than the file.
    std::string lying = Build({.local = "C:\\a\\", .suffix = "b.exe"});
    lying[0x4C] = '\xff', lying[0x4D] = '\x7f';
    EXPECT_NE(PathOf(lying, path), S_OK);
}

TEST_F(ShellLink, MakeShellLinkRoundTrips) {
    std::wstring path;
    for (const std::wstring target : {L"C:\\Program Files\\App\\app.exe", L"C:\\users\\Zo\u00eb\\\u65e5\u672c.txt",
                                      L"D:\\folder"}) {
        EXPECT_EQ(PathOf(MakeShellLink(target), path), S_OK) << target.size();
        EXPECT_EQ(path, target);
    }
}
