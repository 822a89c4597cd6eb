// Test support: real Windows executables, made with Debian's MinGW binutils from a resource
// script, and signed with osslsigncode under a certificate made with OpenSSL.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace CorvaneTest {

// Runs a shell command with its output in dir/commands.log; true when it succeeds.
inline bool Run(const std::filesystem::path& dir, const std::string& strCommand) {
    return std::system(("(" + strCommand + ") >>'" + (dir / "commands.log").string() + "' 2>&1").c_str()) == 0;
}

// A version resource whose "Translation" lists 0x407 first, each language with its own
// FileDescription.
inline const char* const kTwoLanguageVersion = R"(1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 1,2,3,4
FILEOS 0x40004
FILETYPE 0x1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "Corvane Tests"
      VALUE "FileDescription", "Test program"
    END
    BLOCK "040704B0"
    BEGIN
      VALUE "FileDescription", "Testprogramm"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x407, 1200, 0x409, 1200
  END
END
)";

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
