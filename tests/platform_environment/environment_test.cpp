#include "platform/environment/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace Branwick;
using namespace Branwick::Platform;

namespace {

// The machine keys a fresh 64-bit Wine prefix holds for its environment.
const char kMachine[] = R"REG(
[System\\CurrentControlSet\\Control\\Session Manager\\Environment]
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"NUMBER_OF_PROCESSORS"="2"
"OS"="Windows_NT"
"PATH"=str(2):"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem"
"PROCESSOR_ARCHITECTURE"="AMD64"
"TEMP"=str(2):"%SystemRoot%\\temp"
"TMP"=str(2):"%SystemRoot%\\temp"
"windir"=str(2):"%SystemRoot%"
"winsysdir"="C:\\windows\\system32"
"EMPTY"=""
"Number"=dword:00000007
[System\\CurrentControlSet\\Control\\ComputerName\\ComputerName]
"ComputerName"="VM"
[Software\\Microsoft\\Windows NT\\CurrentVersion]
"SystemRoot"="C:\\windows"
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProfilesDirectory"=str(2):"C:\\users"
"ProgramData"=str(2):"C:\\ProgramData"
"Public"=str(2):"C:\\users\\Public"
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000]
"ProfileImagePath"="C:\\users\\wineuser"
[Software\\Microsoft\\Windows\\CurrentVersion]
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
)REG";

const char kUser[] = R"REG(
[Environment]
"TEMP"="C:\\users\\wineuser\\Temp"
"TMP"="C:\\users\\wineuser\\Temp"
"PATH"="C:\\tools"
[Volatile Environment]
"APPDATA"="C:\\users\\wineuser\\AppData\\Roaming"
"HOMESHARE"=""
"USERNAME"="wineuser"
"USERPROFILE"="C:\\users\\wineuser"
)REG";

CRegistry Prefix(bool b64Bit) {
    CRegistry reg = CRegistry::CreateInMemory({.m_b64Bit = b64Bit});
    EXPECT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kMachine).Ok());
    EXPECT_TRUE(reg.ImportText(HKEY_CURRENT_USER, kUser).Ok());
    return reg;
}

const CEnvironmentUser kWineUser{L"S-1-5-21-0-0-0-1000", L""};

}  // namespace

TEST(Environment, ExpandFollowsExpandEnvironmentStrings) {
    CEnvironment env;
    env.Set(L"SystemRoot", L"C:\\windows");
    env.Set(L"B", L"b");
    env.Set(L"Loop", L"%B%");
    EXPECT_EQ(env.Expand(L"%SystemRoot%\\system32"), L"C:\\windows\\system32");
    EXPECT_EQ(env.Expand(L"%SYSTEMROOT%\\x;%systemroot%"), L"C:\\windows\\x;C:\\windows");
    EXPECT_EQ(env.Expand(L"%NOPE%\\x.dll"), L"%NOPE%\\x.dll");
    EXPECT_EQ(env.Expand(L"%NOPE%B%"), L"%NOPEb");  // the unknown name's closing '%' opens the next
    EXPECT_EQ(env.Expand(L"100% sure, 50%"), L"100% sure, 50%");
    EXPECT_EQ(env.Expand(L"%%B%"), L"%b");
    EXPECT_EQ(env.Expand(L"%Loop%"), L"%B%");  // values are not expanded again
    EXPECT_EQ(env.Expand(L"%B"), L"%B");
    EXPECT_EQ(env.Expand(L""), L"");
}

TEST(Environment, SetGetAndListIgnoreCase) {
    CEnvironment env;
    env.Set(L"Path", L"a");
    env.Set(L"PATH", L"b");  // the first spelling stays
    env.Set(L"zeta", L"z");
    env.Set(L"ComSpec", L"c");
    env.Set(L"COMPUTERNAME", L"vm");
    std::wstring value;
    EXPECT_TRUE(env.Get(L"path", value));
    EXPECT_EQ(value, L"b");
    EXPECT_EQ(env.Variables(), (std::vector<std::pair<std::wstring, std::wstring>>{
                                   {L"COMPUTERNAME", L"vm"}, {L"ComSpec", L"c"}, {L"Path", L"b"}, {L"zeta", L"z"}}));
    env.Set(L"PATH", L"");
    EXPECT_FALSE(env.Get(L"Path", value));
}

TEST(Environment, A64BitWinePrefixAsItsFixtureShows) {
    setenv("CORVANE_HOST_ONLY", "leak", 1);
    setenv("USERPROFILE", "/host/profile", 1);
    const CEnvironment env = BuildEnvironment(Prefix(true), kWineUser);
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
        {L"APPDATA", L"C:\\users\\wineuser\\AppData\\Roaming"},
        {L"CommonProgramFiles", L"C:\\Program Files (x86)\\Common Files"},
        {L"CommonProgramFiles(x86)", L"C:\\Program Files (x86)\\Common Files"},
        {L"CommonProgramW6432", L"C:\\Program Files\\Common Files"},
        {L"COMPUTERNAME", L"VM"},
        {L"ComSpec", L"C:\\windows\\system32\\cmd.exe"},
        {L"HOMEDRIVE", L"C:"},
        {L"HOMEPATH", L"\\users\\wineuser"},
        {L"LOCALAPPDATA", L"C:\\users\\wineuser\\AppData\\Local"},
        {L"NUMBER_OF_PROCESSORS", L"2"},
        {L"OS", L"Windows_NT"},
        {L"PATH", L"C:\\windows\\system32;C:\\windows;C:\\windows\\system32\\wbem;C:\\tools"},
        {L"PROCESSOR_ARCHITECTURE", L"x86"},
        {L"PROCESSOR_ARCHITEW6432", L"AMD64"},
        {L"ProgramData", L"C:\\ProgramData"},
        {L"ProgramFiles", L"C:\\Program Files (x86)"},
        {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
        {L"ProgramW6432", L"C:\\Program Files"},
        {L"PUBLIC", L"C:\\users\\Public"},
        {L"SystemDrive", L"C:"},
        {L"SystemRoot", L"C:\\windows"},
        {L"TEMP", L"C:\\users\\wineuser\\Temp"},
        {L"TMP", L"C:\\users\\wineuser\\Temp"},
        {L"USERNAME", L"wineuser"},
        {L"USERPROFILE", L"C:\\users\\wineuser"},
        {L"windir", L"C:\\windows"},
        {L"winsysdir", L"C:\\windows\\system32"},
    };
    EXPECT_EQ(env.Variables(), expected);
    EXPECT_EQ(env.Expand(L"%ProgramFiles%\\App"), L"C:\\Program Files (x86)\\App");
    unsetenv("CORVANE_HOST_ONLY");
    unsetenv("USERPROFILE");
}

TEST(Environment, A32BitTargetHasOneProgramFolder) {
    const CEnvironment env = BuildEnvironment(Prefix(false), kWineUser);
    EXPECT_EQ(env.Expand(L"%ProgramFiles%\\App"), L"C:\\Program Files\\App");
    EXPECT_EQ(env.Expand(L"%CommonProgramFiles%"), L"C:\\Program Files\\Common Files");
    EXPECT_EQ(env.Expand(L"%ProgramW6432%"), L"%ProgramW6432%");
    EXPECT_EQ(env.Get(L"PROCESSOR_ARCHITECTURE"), L"AMD64");
    EXPECT_EQ(env.Get(L"PROCESSOR_ARCHITEW6432"), L"");
}

TEST(Environment, AnOfflineUserIsDerivedFromTheProfile) {
    // Windows keeps no Volatile Environment on disk; the user's TEMP refers to the profile.
    CRegistry reg = CRegistry::CreateInMemory({.m_b64Bit = true});
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, R"REG(
[Software\\Microsoft\\Windows NT\\CurrentVersion]
"SystemRoot"="C:\\Windows"
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProfilesDirectory"=str(2):"%SystemDrive%\\Users"
"ProgramData"=str(2):"%SystemDrive%\\ProgramData"
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-1001]
"ProfileImagePath"=str(2):"%SystemDrive%\\Users\\Ann"
)REG").Ok());
    ASSERT_TRUE(reg.ImportText(HKEY_CURRENT_USER, R"REG(
[Environment]
"TEMP"=str(2):"%USERPROFILE%\\AppData\\Local\\Temp"
)REG").Ok());
    CEnvironment env = BuildEnvironment(reg, {L"", L"ann"});
    EXPECT_EQ(env.Get(L"USERPROFILE"), L"C:\\Users\\Ann");
    EXPECT_EQ(env.Get(L"USERNAME"), L"Ann");
    EXPECT_EQ(env.Get(L"HOMEPATH"), L"\\Users\\Ann");
    EXPECT_EQ(env.Get(L"TEMP"), L"C:\\Users\\Ann\\AppData\\Local\\Temp");
    EXPECT_EQ(env.Get(L"ALLUSERSPROFILE"), L"C:\\ProgramData");
    EXPECT_EQ(env.Expand(L"%SystemRoot%\\system32"), L"C:\\Windows\\system32");

    // A user without a ProfileList entry lives below ProfilesDirectory.
    env = BuildEnvironment(reg, {L"", L"Bob"});
    EXPECT_EQ(env.Get(L"LOCALAPPDATA"), L"C:\\Users\\Bob\\AppData\\Local");
    // No registry at all: the Windows folder and nothing from the host.
    env = BuildEnvironment(CRegistry::CreateInMemory(), {});
    EXPECT_EQ(env.Variables(), (std::vector<std::pair<std::wstring, std::wstring>>{
                                   {L"SystemDrive", L"C:"}, {L"SystemRoot", L"C:\\windows"}}));
}
