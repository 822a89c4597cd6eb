// The PE reader and the Authenticode check on executables built and signed by the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/pe_builder.h"
#include "tests/support/temp_folder.h"
#include "tools/ProcessManager/PeFile.h"

namespace {

using namespace Branwick::Tools;
using CorvaneTest::CTempFolder;
using CorvaneTest::ReadAll;

struct CReadResult {
    bool m_bPe = false;
    std::wstring m_strDescription;
    CSignerInfo m_signer;
};

CReadResult ReadPe(const std::filesystem::path& file) {
    CFileSource source(file.string());
    CPeFile pe(source);
    return {pe.IsPe(), pe.FileDescription(), pe.Signer()};
}

CReadResult ReadPe(const std::string& strBytes) {
    CMemorySource source(strBytes);
    CPeFile pe(source);
    return {pe.IsPe(), pe.FileDescription(), pe.Signer()};
}

class PeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CorvaneTest::BuildPe(m_dir.Path(), "app.exe", CorvaneTest::TwoLanguageVersion()))
            << ReadAll(m_dir / "commands.log");
    }
    CTempFolder m_dir{"corvane-pe"};
};

TEST_F(PeTest, DescriptionComesFromTheFirstTranslationsTable) {
    const CReadResult r = ReadPe(m_dir / "app.exe");
    EXPECT_TRUE(r.m_bPe);
    EXPECT_EQ(r.m_strDescription, L"Testprogramm");
    EXPECT_EQ(r.m_signer.m_eState, ESignature::NotSigned);
}

TEST_F(PeTest, FilesWithoutVersionResourceOrNotPeHaveNoDescription) {
    ASSERT_TRUE(CorvaneTest::BuildPe(m_dir.Path(), "bare.exe", ""));
    const CReadResult bare = ReadPe(m_dir / "bare.exe");
    EXPECT_TRUE(bare.m_bPe);
    EXPECT_EQ(bare.m_strDescription, L"");
    EXPECT_FALSE(ReadPe(std::filesystem::path("/bin/sh")).m_bPe);
    EXPECT_FALSE(ReadPe(m_dir / "missing.exe").m_bPe);
}

TEST_F(PeTest, SignerIsTheCommonNameElseTheUnit) {
    ASSERT_TRUE(CorvaneTest::MakeCertificate(m_dir.Path(), "named", "/O=Corvane Tests/OU=Signing Unit/CN=Corvane Test Signer"));
    ASSERT_TRUE(CorvaneTest::MakeCertificate(m_dir.Path(), "unit", "/O=Corvane Tests/OU=Signing Unit"));
    ASSERT_TRUE(CorvaneTest::SignPe(m_dir.Path(), "named", m_dir / "app.exe", m_dir / "named.exe"));
    ASSERT_TRUE(CorvaneTest::SignPe(m_dir.Path(), "unit", m_dir / "app.exe", m_dir / "unit.exe"));

    const CReadResult named = ReadPe(m_dir / "named.exe");
    EXPECT_EQ(named.m_signer.m_eState, ESignature::Signed);
    EXPECT_EQ(named.m_signer.m_strName, L"Corvane Test Signer");
    EXPECT_EQ(named.m_strDescription, L"Testprogramm");  // the signature does not hide the resources
    const CReadResult unit = ReadPe(m_dir / "unit.exe");
    EXPECT_EQ(unit.m_signer.m_eState, ESignature::Signed);
    EXPECT_EQ(unit.m_signer.m_strName, L"Signing Unit");
}

TEST_F(PeTest, AnyChangeAfterSigningInvalidatesTheSignature) {
    ASSERT_TRUE(CorvaneTest::MakeCertificate(m_dir.Path(), "named", "/CN=Corvane Test Signer"));
    ASSERT_TRUE(CorvaneTest::SignPe(m_dir.Path(), "named", m_dir / "app.exe", m_dir / "named.exe"));
    const std::string signedBytes = ReadAll(m_dir / "named.exe");
    ASSERT_EQ(ReadPe(signedBytes).m_signer.m_eState, ESignature::Signed);
    const std::string original = ReadAll(m_dir / "app.exe");

    std::string code = signedBytes;  // one byte of the program
    code[original.size() / 2] ^= 0x01;
    EXPECT_EQ(ReadPe(code).m_signer.m_eState, ESignature::Invalid);

    std::string signature = signedBytes;  // one byte of the signature itself, in the RSA value at its end
    signature[signature.size() - 100] ^= 0x01;
    EXPECT_EQ(ReadPe(signature).m_signer.m_eState, ESignature::Invalid);

    // Bytes appended after the signature are not covered by it.
    EXPECT_EQ(ReadPe(signedBytes + "appended").m_signer.m_eState, ESignature::Invalid);
}

TEST_F(PeTest, TruncatedFilesAreNeverTakenAsSigned) {
    ASSERT_TRUE(CorvaneTest::MakeCertificate(m_dir.Path(), "named", "/CN=Corvane Test Signer"));
    ASSERT_TRUE(CorvaneTest::SignPe(m_dir.Path(), "named", m_dir / "app.exe", m_dir / "named.exe"));
    const std::string signedBytes = ReadAll(m_dir / "named.exe");
    for (std::size_t n = 0; n < signedBytes.size(); n += 97) {
        const CReadResult r = ReadPe(signedBytes.substr(0, n));
        EXPECT_NE(r.m_signer.m_eState, ESignature::Signed) << n;
        EXPECT_TRUE(r.m_strDescription.empty() || r.m_strDescription == L"Testprogramm") << n;
    }
}

}  // namespace
