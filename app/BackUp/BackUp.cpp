#include "app/BackUp/BackUp.h"

#include <ctime>
#include <stdexcept>

#include "core/Exceptions.h"
#include "core/RegData.h"
#include "core/Text.h"

namespace Branwick {

namespace {

constexpr wchar_t kExtension[] = L".bak";

class CCreateBackupThreadData : public CThreadComm {
public:
    CCreateBackupThreadData(CErrorCollection* pErrors, DWORD dwCategories, CMessageSink* pSink,
                            const Platform::CTarget* pTarget, std::wstring strFolder)
        : m_pErrors(pErrors), m_dwCategories(dwCategories), m_pSink(pSink), m_pTarget(pTarget),
          m_strFolder(std::move(strFolder)) {}

    CErrorCollection* m_pErrors;
    DWORD m_dwCategories;
    CMessageSink* m_pSink;
    const Platform::CTarget* m_pTarget;
    std::wstring m_strFolder;
};

class CRestoreBackupThreadData : public CThreadComm {
public:
    CRestoreBackupThreadData(CMessageSink* pSink, std::wstring strPath,
                             const Platform::CTarget* pTarget, CScanManager* pScanManager,
                             std::atomic<bool>* pbOk)
        : m_pSink(pSink), m_strPath(std::move(strPath)), m_pTarget(pTarget),
          m_pScanManager(pScanManager), m_pbOk(pbOk) {}

    CMessageSink* m_pSink;
    std::wstring m_strPath;
    const Platform::CTarget* m_pTarget;
    CScanManager* m_pScanManager;
    std::atomic<bool>* m_pbOk;
};

void ShowAndLog(CMessageSink* pSink, const std::wstring& strText) {
    pSink->Post(std::make_unique<CLogMessage>(strText));
    ShowMessageBox(strText);
}

DWORD CreateBackupThread(void* pArgument) {
    auto* pData = static_cast<CCreateBackupThreadData*>(pArgument);
    if (pData == nullptr) {
        return 0;
    }
    std::int64_t nTime = 0;
    try {
        CBackUp backup;
        for (const SScanTypeInfo& info : ScanTypes()) {
            const auto itList = pData->m_pErrors->find(info.nBit);
            if ((pData->m_dwCategories & static_cast<DWORD>(info.nBit)) == 0 ||
                itList == pData->m_pErrors->end()) {
                continue;
            }
            std::int32_t nWalked = 0;
            for (const CRegError& record : itList->second) {
                if (!pData->IsRunning(0)) {
                    break;
                }
                if (record.m_nState == 1) {
                    backup.AddRegError(record, pData->m_pTarget->Registry());
                }
                pData->m_pSink->Post(std::make_unique<CRestoreCreateBkupProgress>(++nWalked, 0));
            }
        }
        std::wstring strError;
        nTime = backup.Save(pData->m_pTarget->Files(), pData->m_strFolder, strError);
        if (!strError.empty()) {
            ShowAndLog(pData->m_pSink, strError);
        }
    } catch (const CBranwickException& e) {
        ShowAndLog(pData->m_pSink, e.GetMessage());
    } catch (const std::exception& e) {
        ShowAndLog(pData->m_pSink, Utf8ToWide(e.what()));
    }
    pData->m_pSink->Post(std::make_unique<CCreateBkupFinishMsg>(
        nTime == 0 ? std::wstring() : BackupName(nTime), nTime));
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    return 0;
}

DWORD RestoreBackupThread(void* pArgument) {
    auto* pData = static_cast<CRestoreBackupThreadData*>(pArgument);
    if (pData == nullptr) {
        return 0;
    }
    const Platform::CRegistry& registry = pData->m_pTarget->Registry();
    bool bOk = false;
    try {
        CBackUp backup;
        std::size_t nCount = 0;
        std::wstring strError;
        if (!backup.Load(pData->m_pTarget->Files(), pData->m_strPath, nCount, strError)) {
            throw std::runtime_error(WideToUtf8(strError));
        }
        const auto nTotal = static_cast<std::int32_t>(nCount);
        for (std::int32_t n = 1; backup.RestoreNext(registry); ++n) {
            pData->m_pSink->Post(std::make_unique<CRestoreCreateBkupProgress>(n, nTotal));
        }
        pData->m_pScanManager->ResetQuietTimes();
        const Platform::CRegStatus status = registry.Flush();
        bOk = status.Ok();
        if (!bOk) {
            // Memory goes back to what is on disk, so that nothing half-restored lingers.
            registry.Reload();
            ShowAndLog(pData->m_pSink,
                       L"The backup was not restored, because the registry could not be saved: " +
                           status.m_sMessage);
        }
    } catch (const CBranwickException& e) {
        ShowAndLog(pData->m_pSink, e.GetMessage());
    } catch (const std::exception& e) {
        ShowAndLog(pData->m_pSink, Utf8ToWide(e.what()));
    }
    pData->m_pbOk->store(bOk);
    pData->m_pSink->Post(std::make_unique<CRestoreBkupFinishMsg>());
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    return 0;
}

}  // namespace

std::wstring BackupName(std::int64_t nTime) {
    return LocalTimeText(static_cast<std::time_t>(nTime), "Corvanes_%B_%d_%Y_%H_%M_%S");
}

// ---- CBackUp ----

CBackUp::CBackUp() : m_root(CreateBackupDocument(m_document)) {}

void CBackUp::AddRegError(const CRegError& record, const Platform::CRegistry& registry) {
    try {
        record.Backup(m_root, registry);
        ++m_nAdded;
    } catch (const CBranwickException& e) {
        ShowMessageBox(e.GetMessage());
    } catch (const std::exception& e) {
        ShowMessageBox(CBranwickException(L"BackUp", L"Branwick::CBackUp::AddRegError", __LINE__,
                                          Utf8ToWide(e.what()))
                           .GetMessage());
    }
}

std::int64_t CBackUp::Save(Platform::CFileSystem& files, const std::wstring& strFolder,
                           std::wstring& strError) {
    strError.clear();
    if (m_nAdded == 0) {
        return 0;
    }
    const std::int64_t nTime = std::time(nullptr);
    const std::wstring strName = strFolder + BackupName(nTime);
    std::wstring strPath = strName + kExtension;
    for (int n = 2; files.Exists(strPath); ++n) {
        strPath = strName + L"_" + std::to_wstring(n) + kExtension;
    }
    const Platform::CFileStatus status = files.WriteFile(strPath, BackupDocumentText(m_document));
    if (!status.Ok()) {
        strError = L"The backup " + strPath + L" could not be saved: " + status.m_strText;
        return 0;
    }
    return nTime;
}

bool CBackUp::Load(const Platform::CFileSystem& files, const std::wstring& strPath,
                   std::size_t& nCount, std::wstring& strError) {
    std::string strBytes;
    const Platform::CFileStatus status = files.ReadFile(strPath, strBytes);
    if (!status.Ok()) {
        strError = L"The backup " + strPath + L" cannot be read: " + status.m_strText;
        return false;
    }
    pugi::xml_document document;
    if (!LoadBackupDocument(strBytes, document, strError)) {
        strError = L"The backup " + strPath + L" is damaged: " + strError;
        return false;
    }
    m_document.reset(document);
    m_root = m_document.document_element();
    m_next = m_root.first_child();
    nCount = static_cast<std::size_t>(std::distance(m_root.begin(), m_root.end()));
    return true;
}

bool CBackUp::RestoreNext(const Platform::CRegistry& registry) {
    if (!m_next) {
        return false;
    }
    CRegDataRestorer(registry).Restore(m_next);
    m_next = m_next.next_sibling();
    return true;
}

// ---- CBackUpManager ----

CBackUpManager::CBackUpManager(CMessageManager& messages, CThreadManager& threads,
                               CScanManager& scanManager, const Platform::CTarget& target,
                               const std::wstring& strDataFolder)
    : m_messages(messages), m_threads(threads), m_scanManager(scanManager), m_target(target),
      m_strFolder(strDataFolder + L"Backups\\") {
    m_messages.Subscribe(CCreateBkupFinishMsg::kType, this);
    m_messages.Subscribe(CRestoreBkupFinishMsg::kType, this);
    Reload();
}

CBackUpManager::~CBackUpManager() {
    m_messages.Unsubscribe(CCreateBkupFinishMsg::kType, this);
    m_messages.Unsubscribe(CRestoreBkupFinishMsg::kType, this);
}

void CBackUpManager::Reload() {
    std::map<std::int64_t, std::wstring> backups;
    std::vector<Platform::CFindData> vcFound;
    const Platform::CFileStatus status =
        m_target.Files().FindFiles(m_strFolder + L"*" + kExtension, vcFound);
    if (!status.Ok() && status.m_nError != ERROR_FILE_NOT_FOUND &&
        status.m_nError != ERROR_PATH_NOT_FOUND) {
        const std::wstring strText =
            L"Error while locating BackUp files. FindNextFile error: " +
            std::to_wstring(status.m_nError);
        ShowMessageBox(strText);
        m_messages.Send(std::make_unique<CLogMessage>(strText));
    }
    for (const Platform::CFindData& found : vcFound) {
        if ((found.m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        std::wstring strName = found.m_strName;
        for (std::size_t n; (n = strName.find(kExtension)) != std::wstring::npos;) {
            strName.erase(n, 4);
        }
        backups[found.m_nLastWriteTime] = strName;
    }
    std::lock_guard lock(m_mutex);
    m_backups = std::move(backups);
}

DWORD CBackUpManager::CreateBackup() {
    Platform::CFileSystem& files = m_target.Files();
    const Platform::CFileStatus status = files.CreateDirectory(m_strFolder);
    if (!status.Ok() && status.m_nError != ERROR_ALREADY_EXISTS) {
        ShowMessageBox(L"The backup folder " + m_strFolder + L" cannot be made: " +
                       status.m_strText);
        return 0;
    }
    m_dwThreadId = m_threads.StartThread(
        &CreateBackupThread,
        std::make_unique<CCreateBackupThreadData>(&m_scanManager.GetErrors(),
                                                  m_scanManager.GetScanCategories(),
                                                  m_messages.GetSink(), &m_target, m_strFolder));
    return m_dwThreadId;
}

std::wstring CBackUpManager::BackupPath(const std::wstring& strName) const {
    if (strName.empty() || strName.find_first_of(L"\\/:") != std::wstring::npos ||
        strName == L"." || strName == L"..") {
        return {};
    }
    return m_strFolder + strName +
           (strName.find(kExtension) == std::wstring::npos ? kExtension : L"");
}

DWORD CBackUpManager::RestoreBackup(const std::wstring& strName) {
    const std::wstring strPath = BackupPath(strName);
    if (strPath.empty()) {
        ShowMessageBox(L"\"" + strName + L"\" is not the name of a backup.");
        return 0;
    }
    m_bRestoreOk = false;
    m_dwThreadId = m_threads.StartThread(
        &RestoreBackupThread,
        std::make_unique<CRestoreBackupThreadData>(m_messages.GetSink(), strPath, &m_target,
                                                   &m_scanManager, &m_bRestoreOk));
    return m_dwThreadId;
}

bool CBackUpManager::DeleteBackup(const std::wstring& strName, std::wstring& strError) {
    const std::wstring strPath = BackupPath(strName);
    if (strPath.empty()) {
        strError = L"\"" + strName + L"\" is not the name of a backup.";
        return false;
    }
    const Platform::CFileStatus status = m_target.Files().DeleteFile(strPath);
    strError = status.m_strText;
    return status.Ok();
}

void CBackUpManager::StopBackup() {
    m_threads.StopThread(m_dwThreadId, INFINITE);
    m_dwThreadId = 0;
}

std::map<std::int64_t, std::wstring> CBackUpManager::GetBackups() const {
    std::lock_guard lock(m_mutex);
    return m_backups;
}

void CBackUpManager::Processmessage(CMessage* pMessage) {
    if (pMessage == nullptr) {
        return;
    }
    if (pMessage->m_nType == CCreateBkupFinishMsg::kType) {
        const auto* pFinish = static_cast<const CCreateBkupFinishMsg*>(pMessage);
        // A creation that saved nothing made no file: nothing to list.
        if (pFinish->m_nTime != 0) {
            std::lock_guard lock(m_mutex);
            m_backups[pFinish->m_nTime] = pFinish->m_strName;
        }
        m_dwThreadId = 0;
    } else if (pMessage->m_nType == CRestoreBkupFinishMsg::kType) {
        m_dwThreadId = 0;
    }
}

}  // namespace Branwick
