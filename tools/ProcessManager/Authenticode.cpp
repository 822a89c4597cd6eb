// The Authenticode signature of a PE file, read and checked with OpenSSL.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/text/text.h"
#include "tools/ProcessManager/PeFile.h"

namespace Branwick::Tools {

namespace {

constexpr std::uint32_t kMaxSignature = 8U << 20;
constexpr std::uint16_t kCertificateTypePkcs7 = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";

template <typename T, void (*Free)(T*)>
struct CFree {
    void operator()(T* p) const { Free(p); }
};
using PPkcs7 = std::unique_ptr<PKCS7, CFree<PKCS7, PKCS7_free>>;
using PSig = std::unique_ptr<X509_SIG, CFree<X509_SIG, X509_SIG_free>>;
using PBio = std::unique_ptr<BIO, CFree<BIO, BIO_free_all>>;
using PMdCtx = std::unique_ptr<EVP_MD_CTX, CFree<EVP_MD_CTX, EVP_MD_CTX_free>>;

// The contents octets of one DER element (its tag and length skipped), within [p, p + nSize).
bool Contents(const unsigned char*& p, long nSize, long& nLength) {
    int nTag = 0;
    int nClass = 0;
    const unsigned char* const pStart = p;
    if ((ASN1_get_object(&p, &nLength, &nTag, &nClass, nSize) & 0x80) != 0) {
        return false;
    }
    return nLength >= 0 && nLength <= nSize - (p - pStart);
}

std::wstring EntryText(const X509_NAME* pName, int nNid) {
    int nIndex = -1;
    // X.500 strings list the most specific attribute first; that is the last one in the DER.
    for (int i = X509_NAME_get_index_by_NID(pName, nNid, -1); i >= 0; i = X509_NAME_get_index_by_NID(pName, nNid, i)) {
        nIndex = i;
    }
    if (nIndex < 0) {
        return {};
    }
    unsigned char* pUtf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&pUtf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(pName, nIndex)));
    std::wstring str;
    if (n >= 0) {
        str = Platform::FromUtf8(std::string_view(reinterpret_cast<const char*>(pUtf8), static_cast<std::size_t>(n)));
    }
    OPENSSL_free(pUtf8);
    return str;
}

std::wstring SubjectText(const X509_NAME* pName) {
    PBio bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), pName, 0, XN_FLAG_RFC2253) < 0) {
        return {};
    }
    char* pData = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &pData);
    return n > 0 ? Platform::FromUtf8(std::string_view(pData, static_cast<std::size_t>(n))) : std::wstring();
}

// The signer's name: CN, else OU; a subject with neither is shown whole rather than as unsigned.
std::wstring SignerName(PKCS7* p7) {
    STACK_OF(X509)* pSigners = PKCS7_get0_signers(p7, nullptr, 0);
    if (pSigners == nullptr) {
        return {};
    }
    std::wstring str;
    if (sk_X509_num(pSigners) > 0) {
        const X509_NAME* pName = X509_get_subject_name(sk_X509_value(pSigners, 0));
        str = EntryText(pName, NID_commonName);
        if (str.empty()) {
            str = EntryText(pName, NID_organizationalUnitName);
        }
        if (str.empty()) {
            str = SubjectText(pName);
        }
    }
    sk_X509_free(pSigners);
    return str;
}

}  // namespace

bool CPeFile::DigestMatches(const evp_md_st* pDigest, std::string_view expected) {
    // The digest leaves out the CheckSum, the security directory entry and the signature itself,
    // which all change when a file is signed.
    if (!(m_nChecksumOffset + 4 <= m_nSecurityEntryOffset && m_nSecurityEntryOffset + 8 <= m_nSecurityOffset)) {
        return false;
    }
    const std::uint64_t aRanges[3][2] = {{0, m_nChecksumOffset},
                                         {m_nChecksumOffset + 4, m_nSecurityEntryOffset},
                                         {m_nSecurityEntryOffset + 8, m_nSecurityOffset}};
    PMdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), pDigest, nullptr) != 1) {
        return false;
    }
    std::vector<unsigned char> buffer(1 << 16);
    for (const auto& range : aRanges) {
        for (std::uint64_t n = range[0]; n < range[1];) {
            const std::size_t nChunk = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), range[1] - n));
            if (!m_source.Read(n, buffer.data(), nChunk) || EVP_DigestUpdate(ctx.get(), buffer.data(), nChunk) != 1) {
                return false;
            }
            n += nChunk;
        }
    }
    unsigned char aDigest[EVP_MAX_MD_SIZE];
    unsigned int nDigest = 0;
    return EVP_DigestFinal_ex(ctx.get(), aDigest, &nDigest) == 1 && nDigest == expected.size() &&
           std::memcmp(aDigest, expected.data(), nDigest) == 0;
}

CSignerInfo CPeFile::Signer() {
    // A damaged signature leaves OpenSSL's reasons in the thread's error queue; nobody reads them.
    struct CClearErrors {
        ~CClearErrors() { ERR_clear_error(); }
    } clearErrors;
    CSignerInfo info;
    if (!m_bPe || m_nSecurityOffset == 0 || m_nSecuritySize == 0) {
        return info;
    }
    info.m_eState = ESignature::Invalid;
    // The signature must be the end of the file: bytes after it would not be covered by it.
    if (m_nSecuritySize < 8 || m_nSecuritySize > kMaxSignature ||
        static_cast<std::uint64_t>(m_nSecurityOffset) + m_nSecuritySize != m_source.Size()) {
        return info;
    }
    std::string table(m_nSecuritySize, '\0');
    if (!m_source.Read(m_nSecurityOffset, table.data(), table.size())) {
        return info;
    }
    const auto* pTable = reinterpret_cast<const unsigned char*>(table.data());
    const std::uint32_t nLength = static_cast<std::uint32_t>(pTable[0] | (pTable[1] << 8) | (pTable[2] << 16)) |
                                  (static_cast<std::uint32_t>(pTable[3]) << 24);
    const std::uint16_t nType = static_cast<std::uint16_t>(pTable[6] | (pTable[7] << 8));
    if (nLength <= 8 || nLength > m_nSecuritySize || nType != kCertificateTypePkcs7) {
        return info;
    }
    const unsigned char* p = pTable + 8;
    PPkcs7 p7(d2i_PKCS7(nullptr, &p, static_cast<long>(nLength - 8)));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr || p7->d.sign->contents == nullptr) {
        return info;
    }
    // The signed content is SpcIndirectDataContent: the file's digest as a DigestInfo after a
    // description of what was hashed.
    const PKCS7* pInner = p7->d.sign->contents;
    char szType[64] = {};
    if (pInner->type == nullptr || OBJ_obj2txt(szType, sizeof(szType), pInner->type, 1) <= 0 ||
        std::strcmp(szType, kSpcIndirectData) != 0 || pInner->d.other == nullptr ||
        pInner->d.other->type != V_ASN1_SEQUENCE) {
        return info;
    }
    const ASN1_STRING* pSequence = pInner->d.other->value.sequence;
    const unsigned char* pContent = ASN1_STRING_get0_data(pSequence);
    long nContent = 0;
    if (!Contents(pContent, ASN1_STRING_length(pSequence), nContent)) {
        return info;
    }
    const unsigned char* q = pContent;
    long nFirst = 0;
    if (!Contents(q, nContent, nFirst)) {
        return info;
    }
    q += nFirst;
    const long nRest = nContent - (q - pContent);
    PSig digestInfo(d2i_X509_SIG(nullptr, &q, nRest));
    if (!digestInfo) {
        return info;
    }
    const X509_ALGOR* pAlgorithm = nullptr;
    const ASN1_OCTET_STRING* pDigest = nullptr;
    X509_SIG_get0(digestInfo.get(), &pAlgorithm, &pDigest);
    const ASN1_OBJECT* pAlgorithmId = nullptr;
    X509_ALGOR_get0(&pAlgorithmId, nullptr, nullptr, pAlgorithm);
    const EVP_MD* pMd = EVP_get_digestbyobj(pAlgorithmId);
    if (pMd == nullptr ||
        !DigestMatches(pMd, std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(pDigest)),
                                             static_cast<std::size_t>(ASN1_STRING_length(pDigest))))) {
        return info;
    }
    // The signature covers the content's octets; without a root store only the signature itself
    // is checked, not the chain of its certificate.
    // A memory BIO handed in directly is copied into one that PKCS7_verify leaks when the
    // signature is malformed; behind a buffer it is read where it is.
    PBio content(BIO_new(BIO_f_buffer()));
    BIO* pMemory = BIO_new_mem_buf(pContent, static_cast<int>(nContent));
    if (!content || pMemory == nullptr) {
        BIO_free(pMemory);
        return info;
    }
    BIO_push(content.get(), pMemory);
    if (PKCS7_verify(p7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        return info;
    }
    info.m_eState = ESignature::Signed;
    info.m_strName = SignerName(p7.get());
    return info;
}

}  // namespace Branwick::Tools
