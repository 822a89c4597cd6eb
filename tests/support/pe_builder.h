// Test support: real Windows executables, made with Debian's MinGW binutils from a resource
// script, and signed with osslsigncode under a certificate made with OpenSSL.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace CorvaneTest {

// Runs a shell command with its output in dir/commands.log; true when it succeeds.
inline bool Run(const std::filesystem::path& dir, const std::string& strCommand) {
    return std::system(("(" + strCommand + ") >>'" + (dir / "commands.log").string() + "' 2>&1").c_str()) == 0;
}

// A version resource whose "Translation" lists 0x407 first, each language with its own
// FileDescription.
inline std::string TwoLanguageVersion() {
    std::ifstream in(CORVANE_SOURCE_DIR "/tests/support/two_languages.rc");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Links a console program that returns at once, with the resources of strRc (none when empty),
// as dir/strName. windres runs the C preprocessor, the host's cpp.
inline bool BuildPe(const std::filesystem::path& dir, const std::string& strName, const std::string& strRc) {
    const std::string d = "'" + dir.string() + "/";
    std::ofstream(dir / "start.s") << ".text\n.globl start\nstart:\n  xor %eax, %eax\n  ret\n";
    std::string strObjects = d + "start.o'";
    if (!Run(dir, "x86_64-w64-mingw32-as -o " + d + "start.o' " + d + "start.s'")) {
        return false;
    }
    if (!strRc.empty()) {
        std::ofstream(dir / "app.rc") << strRc;
        if (!Run(dir, "x86_64-w64-mingw32-windres --preprocessor=cpp -i " + d + "app.rc' -o " + d + "res.o'")) {
            return false;
        }
        strObjects += " " + d + "res.o'";
    }
    return Run(dir, "x86_64-w64-mingw32-ld -e start --subsystem console -o " + d + strName + "' " + strObjects);
}

// A self-signed code-signing certificate with that subject ("/O=x/OU=y/CN=z"): dir/strName.pem
// and its key dir/strName.key.
inline bool MakeCertificate(const std::filesystem::path& dir, const std::string& strName, const std::string& strSubject) {
    const std::string base = "'" + (dir / strName).string();
    return Run(dir, "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '" + strSubject + "' -keyout " + base +
                        ".key' -out " + base + ".pem'");
}

inline bool SignPe(const std::filesystem::path& dir, const std::string& strCert, const std::filesystem::path& in,
                   const std::filesystem::path& out) {
    const std::string base = "'" + (dir / strCert).string();
    return Run(dir, "osslsigncode sign -certs " + base + ".pem' -key " + base + ".key' -in '" + in.string() + "' -out '" +
                        out.string() + "'");
}

}  // namespace CorvaneTest
