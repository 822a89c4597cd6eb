// Private to the process manager: what it reads from a Windows executable (PE file) -- the
// "FileDescription" of its version resource and the signer of its Authenticode signature.
//
// Every offset and size read from the file is checked against the file before it is used, and
// what is read is bounded (a version resource fits in 64 KB, a signature in 8 MB), so that any
// file, however damaged, gives an answer or none but never a crash or a hang.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

struct evp_md_st;

namespace Branwick::Tools {

// Where the reader gets its bytes.
class IByteSource {
public:
    virtual ~IByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies nSize bytes at nOffset; false when they are not all there.
    virtual bool Read(std::uint64_t nOffset, void* pOut, std::size_t nSize) = 0;
};

class CMemorySource : public IByteSource {
public:
    explicit CMemorySource(std::string_view data) : m_data(data) {}
    std::uint64_t Size() const override { return m_data.size(); }
    bool Read(std::uint64_t nOffset, void* pOut, std::size_t nSize) override;

private:
    std::string_view m_data;
};

class CFileSource : public IByteSource {
public:
    explicit CFileSource(const std::string& strPath);
    bool IsOpen() const { return m_bOpen; }
    std::uint64_t Size() const override { return m_nSize; }
    bool Read(std::uint64_t nOffset, void* pOut, std::size_t nSize) override;

private:
    std::ifstream m_in;
    std::uint64_t m_nSize = 0;
    bool m_bOpen = false;
};

enum class ESignature { NotSigned, Invalid, Signed };

struct CSignerInfo {
    ESignature m_eState = ESignature::NotSigned;
    std::wstring m_strName;  // when Signed: the signer certificate's CN, else its OU, else its subject
};

class CPeFile {
public:
    // Reads the headers; IsPe() says whether they make a PE file.
    explicit CPeFile(IByteSource& source);

    bool IsPe() const { return m_bPe; }

    // The "FileDescription" of the string table of the first translation in the version resource,
    // at most 259 characters; empty when there is none.
    std::wstring FileDescription();

    // The Authenticode signature: NotSigned without one; Invalid when it cannot be read, does not
    // verify, or the file's digest differs from the signed one; Signed with the signer's name. The
    // certificate chain is not checked against any root store.
    CSignerInfo Signer();

private:
    struct CSection {
        std::uint32_t m_nVirtualAddress;
        std::uint32_t m_nVirtualSize;
        std::uint32_t m_nRawSize;
        std::uint32_t m_nRawOffset;
    };

    bool ParseHeaders();
    // The file offset of nSize bytes at a relative virtual address, when they all lie in the file.
    bool RvaToOffset(std::uint32_t nRva, std::uint32_t nSize, std::uint64_t& nOffset) const;
    bool ReadVersionResource(std::string& strOut);
    bool DigestMatches(const evp_md_st* pDigest, std::string_view expected);

    IByteSource& m_source;
    bool m_bPe = false;
    std::uint64_t m_nChecksumOffset = 0;     // the optional header's CheckSum
    std::uint64_t m_nSecurityEntryOffset = 0;  // the security data directory entry
    std::uint32_t m_nResourceRva = 0;
    std::uint32_t m_nResourceSize = 0;
    std::uint32_t m_nSecurityOffset = 0;     // a file offset, unlike the other directories
    std::uint32_t m_nSecuritySize = 0;
    std::vector<CSection> m_vcSections;
};

}  // namespace Branwick::Tools
