// Test support: .lnk files built the way the format describes them, independently of
// MakeShellLink, so that every shape the link reader may meet can be tried.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace CorvaneTest {

struct CLinkSpec {
    std::optional<std::string> local, net, device, env, relative;
    std::string suffix;
    bool bUnicode = false;
    bool bIdList = false;
};

inline void U16(std::string& o, std::uint32_t v) { o += char(v & 0xFF), o += char((v >> 8) & 0xFF); }
inline void U32(std::string& o, std::uint32_t v) { U16(o, v & 0xFFFF), U16(o, v >> 16); }
inline std::string Z(const std::string& s) { return s + '\0'; }
inline std::string ZW(const std::string& ascii) {
    std::string o;
    for (char c : ascii) {
        U16(o, static_cast<unsigned char>(c));
    }
    U16(o, 0);
    return o;
}

inline std::string LinkInfo(const CLinkSpec& s) {
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

inline std::string BuildLink(const CLinkSpec& s) {
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

}  // namespace CorvaneTest
