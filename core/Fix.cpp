#include "core/Fix.h"

#include "core/MessageSink.h"
#include "core/RegData.h"
#include "core/Text.h"

namespace Branwick {

namespace {

// DELETE | READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY: how fixes open the keys they change.
constexpr REGSAM kFixAccess = 0x30006;

}  // namespace

void SFixContext::Log(std::wstring_view strText, long nNumber) const {
    if (pSink != nullptr && pSink->IsListened(CLogMessage::kType)) {
        Log(std::wstring(strText) + std::to_wstring(nNumber));
    }
}

void SFixContext::Log(std::wstring_view strText) const {
    if (pSink == nullptr || !pSink->IsListened(CLogMessage::kType)) {
        return;
    }
    std::unique_ptr<CLogMessage> pMessage =
        pRecycler != nullptr ? pRecycler->Take<CLogMessage>() : nullptr;
    if (pMessage == nullptr) {
        pSink->Post(std::make_unique<CLogMessage>(strText));
        return;
    }
    pMessage->SetText(strText);
    pSink->Post(std::move(pMessage));
}

CRegistryFix::CRegistryFix(HKEY hRoot, std::wstring strKeyPath, std::wstring strValueName,
                           std::wstring strValueData, REGSAM dwRegSam)
    : m_hRoot(hRoot),
      m_strKeyPath(std::move(strKeyPath)),
      m_strValueName(std::move(strValueName)),
      m_strValueData(std::move(strValueData)),
      m_dwRegSam(dwRegSam) {}

CRegistryFix::CRegistryFix(const CRegistryFix& other)
    : IFix(other),
      m_hRoot(other.m_hRoot),
      m_strKeyPath(other.m_strKeyPath),
      m_strValueName(other.m_strValueName),
      m_strValueData(other.m_strValueData),
      m_dwRegSam(other.m_dwRegSam) {}

std::wstring CRegistryFix::GetDescription() const {
    if (m_strValueData.empty()) {
        return {};
    }
    // Concatenated rather than printed: data texts may hold anything, a NUL included.
    return (m_strValueName.empty() ? L"(Default)" : m_strValueName) + L" = " + m_strValueData +
           L";";
}

LONG CRegistryFix::OpenKey(const SFixContext& context) {
    const LONG lResult =
        context.target.Registry().OpenKey(m_hRoot, m_strKeyPath, m_dwRegSam | kFixAccess, &m_hKey);
    context.Log(L"CDeleteRegistryKey::OpenKey() returns ", lResult);
    return lResult;
}

std::unique_ptr<IFix> CDeleteRegistryKey::Clone() const {
    return std::make_unique<CDeleteRegistryKey>(*this);
}

int CDeleteRegistryKey::Fix(const SFixContext& context) {
    context.Log(L"CDeleteRegistryKey::Fix()");
    OpenKey(context);
    if (!m_hKey.IsOpen()) {
        context.Log(L"m_hKey is _T(\"\")");
        return 1;
    }
    const LONG lResult = m_hKey.DeleteTree(L"");
    m_hKey.Close();
    if (lResult != ERROR_SUCCESS) {
        context.Log(L"::SHDeleteKey( m_hKey, _T(\"\") ) return : ", lResult);
        return 1;
    }
    return 0;
}

void CDeleteRegistryKey::Backup(pugi::xml_node parent,
                                const Platform::CRegistry& registry) const {
    CRegDataSaver(parent, registry).SaveKey(m_hRoot, m_strKeyPath, m_dwRegSam);
}

CStatus CDeleteRegistryKey::CheckRestorable(const Platform::CRegistry& registry) const {
    return registry.CheckRestorable(m_hRoot, m_strKeyPath, m_dwRegSam, true);
}

std::unique_ptr<IFix> CDeleteRegistryValue::Clone() const {
    return std::make_unique<CDeleteRegistryValue>(*this);
}

int CDeleteRegistryValue::Fix(const SFixContext& context) {
    context.Log(L"CDeleteRegistryValue::Fix()");
    OpenKey(context);
    if (!m_hKey.IsOpen()) {
        context.Log(L"m_hKey is NULL");
        return 1;
    }
    const LONG lResult = m_hKey.DeleteValue(m_strValueName);
    m_hKey.Close();
    if (lResult != ERROR_SUCCESS) {
        context.Log(L"::RegDeleteValue( m_hKey, m_sValueName ) return : ", lResult);
        return 1;
    }
    return 0;
}

void CDeleteRegistryValue::Backup(pugi::xml_node parent,
                                  const Platform::CRegistry& registry) const {
    CRegDataSaver(parent, registry).SaveValue(m_hRoot, m_strKeyPath, m_strValueName, m_dwRegSam);
}

CStatus CDeleteRegistryValue::CheckRestorable(const Platform::CRegistry& registry) const {
    return registry.CheckRestorable(m_hRoot, m_strKeyPath, m_dwRegSam, false);
}

CFixContainer::CFixContainer(const CFixContainer& other) : IFix(other) {
    m_vcFixes.reserve(other.m_vcFixes.size());
    for (const std::unique_ptr<IFix>& pFix : other.m_vcFixes) {
        m_vcFixes.push_back(pFix->Clone());
    }
}

CFixContainer& CFixContainer::operator=(const CFixContainer& other) {
    if (this != &other) {
        CFixContainer copy(other);
        m_vcFixes = std::move(copy.m_vcFixes);
    }
    return *this;
}

std::unique_ptr<IFix> CFixContainer::Clone() const {
    return std::make_unique<CFixContainer>(*this);
}

int CFixContainer::Fix(const SFixContext& context) {
    context.Log(L"CFixContainer::Fix()");
    context.Log(L"CFixContainer::m_vcFixes size ", static_cast<int>(m_vcFixes.size()));
    int nResult = 0;
    for (const std::unique_ptr<IFix>& pFix : m_vcFixes) {
        if (pFix->Fix(context) != 0) {
            nResult = 1;
        }
    }
    return nResult;
}

std::wstring CFixContainer::GetDescription() const {
    return m_vcFixes.empty() ? std::wstring() : m_vcFixes.front()->GetDescription();
}

void CFixContainer::Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const {
    for (const std::unique_ptr<IFix>& pFix : m_vcFixes) {
        pFix->Backup(parent, registry);
    }
}

CStatus CFixContainer::CheckRestorable(const Platform::CRegistry& registry) const {
    for (const std::unique_ptr<IFix>& pFix : m_vcFixes) {
        if (CStatus status = pFix->CheckRestorable(registry); !status.Ok()) {
            return status;
        }
    }
    return {};
}

void CFixContainer::AddFix(std::unique_ptr<IFix> pFix) {
    if (pFix != nullptr) {
        m_vcFixes.push_back(std::move(pFix));
    }
}

}  // namespace Branwick
