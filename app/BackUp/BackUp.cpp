#include "app/BackUp/BackUp.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "core/Exceptions.h"
#include "core/FileMove.h"
#include "core/RegData.h"
#include "core/Text.h"

namespace Branwick {

namespace {

constexpr wchar_t kExtension[] = L".bak";
constexpr wchar_t kFilesExtension[] = L".files";

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
    std::vector<std::wstring>* m_pvcFailures = nullptr;  // the manager's; filled before the finish message
    Platform::CWriterLock m_lock;  // taken before the thread starts, released when it is done
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
    std::wstring strName;
    try {
        CBackUp backup;
        for (const SScanTypeInfo& info : ScanTypes()) {
            const auto itList = pData->m_pErrors->find(info.nBit);
            if ((pData->m_dwCategories & static_cast<DWORD>(info.nBit)) == 0 ||
                itList == pData->m_pErrors->end()) {
                continue;
            }
            std::int32_t nWalked = 0;
            for (CRegError& record : itList->second) {
                if (!pData->IsRunning(0)) {
                    break;
                }
                if (record.m_nState == FIX_STATE_TO_FIX) {
                    backup.AddRegError(record, pData->m_pTarget->Registry());
                }
                pData->m_pSink->Post(std::make_unique<CRestoreCreateBkupProgress>(++nWalked, 0));
            }
        }
        std::wstring strError;
        nTime = backup.Save(pData->m_pTarget->Files(), pData->m_strFolder, strName, strError);
        if (!strError.empty()) {
            ShowAndLog(pData->m_pSink, strError);
        }
    } catch (const CBranwickException& e) {
        ShowAndLog(pData->m_pSink, e.GetMessage());
    } catch (const std::exception& e) {
        ShowAndLog(pData->m_pSink, Utf8ToWide(e.what()));
    }
    pData->m_pSink->Post(std::make_unique<CCreateBkupFinishMsg>(nTime == 0 ? std::wstring() : strName, nTime));
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    return 0;
}

// Why a restore failed goes to the log and to the manager's failures, which its caller shows (the
// backup dialog, the command line): a box from here would only say it twice.
DWORD RestoreBackupThread(void* pArgument) {
    auto* pData = static_cast<CRestoreBackupThreadData*>(pArgument);
    if (pData == nullptr) {
        return 0;
    }
    const Platform::CRegistry& registry = pData->m_pTarget->Registry();
    bool bOk = false;
    std::vector<std::wstring> vcFailures;
    const auto fail = [&](const std::wstring& strText) {
        pData->m_pSink->Post(std::make_unique<CLogMessage>(strText));
        vcFailures.push_back(strText);
    };
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
        // What could be restored is kept; the backup stays for what could not.
        const CStatus status = registry.Flush();
        bOk = status.Ok() && backup.RestoreFailures().empty();
        vcFailures = backup.RestoreFailures();
        if (!status.Ok()) {
            // Memory goes back to what is on disk, so that nothing half-restored lingers.
            registry.Reload();
            fail(L"The backup was not restored, because the registry could not be saved: " +
                 status.m_strText);
        } else {
            // The files go back only once the registry is restored, so that a refused restore
            // changes nothing at all.
            std::vector<std::wstring> vcRefused;
            backup.RestoreFiles(pData->m_pTarget->Files(), BackupFilesFolder(pData->m_strPath),
                                vcRefused);
            for (const std::wstring& strRefused : vcRefused) {
                fail(strRefused);
            }
            // A file left in the backup keeps the backup: deleting it would lose the file.
            bOk = bOk && vcRefused.empty();
        }
    } catch (const CBranwickException& e) {
        fail(e.GetMessage());
    } catch (const std::exception& e) {
        fail(Utf8ToWide(e.what()));
    }
    *pData->m_pvcFailures = std::move(vcFailures);
    pData->m_pbOk->store(bOk);
    pData->m_lock.Release();
    pData->m_pSink->Post(std::make_unique<CRestoreBkupFinishMsg>());
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    return 0;
}

}  // namespace

std::wstring BackupName(std::int64_t nTime) {
    return LocalTimeText(static_cast<std::time_t>(nTime), "Corvanes_%B_%d_%Y_%H_%M_%S");
}

std::wstring BackupFilesFolder(const std::wstring& strBakPath) {
    std::wstring strFolder = strBakPath;
    if (strFolder.ends_with(kExtension)) {
        strFolder.resize(strFolder.size() - std::wstring_view(kExtension).size());
    }
    return strFolder + kFilesExtension;
}

// ---- CBackUp ----

CBackUp::CBackUp() : m_root(CreateBackupDocument(m_document)) {}

void CBackUp::AddRegError(CRegError& record, const Platform::CRegistry& registry) {
    try {
        if (record.m_hRoot == 0 && record.m_bDeleteSelf && !record.m_sPath.empty()) {
            AddFile(record);
        } else {
            record.Backup(m_root, registry);
        }
        ++m_nAdded;
    } catch (const CBranwickException& e) {
        ShowMessageBox(e.GetMessage());
    } catch (const std::exception& e) {
        ShowMessageBox(CBranwickException(L"BackUp", L"Branwick::CBackUp::AddRegError", __LINE__,
                                          Utf8ToWide(e.what()))
                           .GetMessage());
    }
}

void CBackUp::AddFile(CRegError& record) {
    const std::wstring strName = std::to_wstring(m_vcFiles.size() + 1) + L"-" +
                                 record.m_sPath.substr(record.m_sPath.rfind(L'\\') + 1);
    pugi::xml_node file = m_root.append_child("File");
    file.append_attribute("Path") = WideToUtf8(record.m_sPath).c_str();
    file.append_attribute("Name") = WideToUtf8(strName).c_str();
    m_vcFiles.push_back({&record, strName});
}

std::int64_t CBackUp::Save(Platform::CFileSystem& files, const std::wstring& strFolder,
                           std::wstring& strName, std::wstring& strError) {
    strError.clear();
    if (m_nAdded == 0) {
        return 0;
    }
    const std::int64_t nTime = std::time(nullptr);
    strName = BackupName(nTime);
    const auto taken = [&](const std::wstring& strPath) {
        return files.Exists(strPath) || files.Exists(BackupFilesFolder(strPath));
    };
    for (int n = 2; taken(strFolder + strName + kExtension); ++n) {
        strName = BackupName(nTime) + L"_" + std::to_wstring(n);
    }
    const std::wstring strPath = strFolder + strName + kExtension;
    const std::wstring strFiles = BackupFilesFolder(strPath);
    CStatus status;
    if (!m_vcFiles.empty()) {
        status = files.CreateDirectory(strFiles);
    }
    if (status.Ok()) {
        status = files.WriteFile(strPath, BackupDocumentText(m_document));
    }
    if (!status.Ok()) {
        strError = L"The backup " + strPath + L" could not be saved: " + status.m_strText;
        return 0;
    }
    for (const SFile& file : m_vcFiles) {
        file.pRecord->m_strBackupPath = strFiles + L"\\" + file.strName;
    }
    return nTime;
}

bool CBackUp::Load(const Platform::CFileSystem& files, const std::wstring& strPath,
                   std::size_t& nCount, std::wstring& strError) {
    std::string strBytes;
    const CStatus status = files.ReadFile(strPath, strBytes);
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
    CRegDataRestorer restorer(registry);
    restorer.Restore(m_next);
    m_vcFailures.insert(m_vcFailures.end(), restorer.Failures().begin(), restorer.Failures().end());
    m_next = m_next.next_sibling();
    return true;
}

namespace {

// Creates the missing folders above a file's path.
void CreateParentFolders(Platform::CFileSystem& files, const std::wstring& strPath) {
    const std::size_t nSlash = strPath.rfind(L'\\');
    if (nSlash == std::wstring::npos || nSlash < 3 ||
        files.GetFileAttributes(strPath.substr(0, nSlash)) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    CreateParentFolders(files, strPath.substr(0, nSlash));
    files.CreateDirectory(strPath.substr(0, nSlash));
}

// Puts one file back; empty, or why it stays in the backup.
std::wstring RestoreFile(Platform::CFileSystem& files, const std::wstring& strStored,
                         const std::wstring& strPath) {
    if (files.GetFileAttributes(strPath) != INVALID_FILE_ATTRIBUTES) {
        std::string strHere;
        std::string strKept;
        // A move between two file systems that ended before its last step left both copies.
        if (files.ReadFile(strPath, strHere).Ok() && files.ReadFile(strStored, strKept).Ok() &&
            strHere == strKept && files.DeleteFile(strStored).Ok()) {
            return {};
        }
        return L"The file " + strPath + L" was not put back, because a file of that name has " +
               L"appeared since; it stays in the backup as " + strStored + L".";
    }
    CreateParentFolders(files, strPath);
    const CStatus status = MoveFileKeepingIt(files, strStored, strPath);
    return status.Ok() ? std::wstring()
                       : L"The file " + strPath + L" was not put back: " + status.m_strText;
}

// A name the backup's own folder can hold: no path, no "." or "..".
bool IsPlainName(const std::wstring& strName) {
    return !strName.empty() && strName != L"." && strName != L".." &&
           strName.find_first_of(L"\\/:") == std::wstring::npos;
}

}  // namespace

void CBackUp::RestoreFiles(Platform::CFileSystem& files, const std::wstring& strFolder,
                           std::vector<std::wstring>& vcRefused) const {
    for (const pugi::xml_node file : m_root.children("File")) {
        const std::wstring strPath = Utf8ToWide(file.attribute("Path").as_string());
        const std::wstring strName = Utf8ToWide(file.attribute("Name").as_string());
        const std::wstring strStored = strFolder + L"\\" + strName;
        // A file the fix never reached is still in its place.
        if (strPath.empty() || !IsPlainName(strName) ||
            files.GetFileAttributes(strStored) == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        if (std::wstring strWhy = RestoreFile(files, strStored, strPath); !strWhy.empty()) {
            vcRefused.push_back(std::move(strWhy));
        }
    }
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
    std::multimap<std::int64_t, std::wstring> backups;
    std::vector<Platform::CFindData> vcFound;
    const CStatus status = m_target.Files().FindFiles(m_strFolder + L"*" + kExtension, vcFound);
    if (!status.Ok() && status.m_lCode != ERROR_FILE_NOT_FOUND &&
        status.m_lCode != ERROR_PATH_NOT_FOUND) {
        const std::wstring strText = L"Error while locating BackUp files. FindNextFile error: " +
                                     std::to_wstring(status.m_lCode);
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
        backups.emplace(found.m_nLastWriteTime, strName);
    }
    std::lock_guard lock(m_mutex);
    m_backups = std::move(backups);
}

DWORD CBackUpManager::CreateBackup() {
    Platform::CFileSystem& files = m_target.Files();
    const CStatus status = files.CreateFolders(m_strFolder);
    if (!status.Ok()) {
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
    auto pData = std::make_unique<CRestoreBackupThreadData>(m_messages.GetSink(), strPath, &m_target,
                                                            &m_scanManager, &m_bRestoreOk);
    m_vcRestoreFailures.clear();
    pData->m_pvcFailures = &m_vcRestoreFailures;
    std::wstring strError;
    if (!pData->m_lock.Acquire(m_target, Platform::kWriterWaitMs, strError)) {
        ShowMessageBox(strError);
        return 0;
    }
    // What another process wrote since the registry was read is restored over, not undone.
    if (m_target.Registry().ChangedOnDisk()) {
        m_target.Registry().Reload();
    }
    m_dwThreadId = m_threads.StartThread(&RestoreBackupThread, std::move(pData));
    return m_dwThreadId;
}

bool CBackUpManager::DeleteBackup(const std::wstring& strName, std::wstring& strError) {
    const std::wstring strPath = BackupPath(strName);
    if (strPath.empty()) {
        strError = L"\"" + strName + L"\" is not the name of a backup.";
        return false;
    }
    Platform::CWriterLock lock;
    if (!lock.Acquire(m_target, Platform::kWriterWaitMs, strError)) {
        return false;
    }
    // The files first: a delete cut short leaves a backup that still lists what it lost, rather
    // than files that no backup lists.
    Platform::CFileSystem& files = m_target.Files();
    const std::wstring strFiles = BackupFilesFolder(strPath);
    std::vector<Platform::CFindData> vcFound;
    files.FindFiles(strFiles + L"\\*", vcFound);
    for (const Platform::CFindData& found : vcFound) {
        if ((found.m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.DeleteFile(strFiles + L"\\" + found.m_strName);
        }
    }
    if (files.GetFileAttributes(strFiles) != INVALID_FILE_ATTRIBUTES) {
        if (const CStatus status = files.RemoveDirectory(strFiles); !status.Ok()) {
            strError = status.m_strText;
            return false;
        }
    }
    const CStatus status = files.DeleteFile(strPath);
    strError = status.m_strText;
    return status.Ok();
}

std::size_t CBackUpManager::CountFiles(const std::wstring& strName) const {
    const std::wstring strPath = BackupPath(strName);
    std::vector<Platform::CFindData> vcFound;
    if (strPath.empty() ||
        !m_target.Files().FindFiles(BackupFilesFolder(strPath) + L"\\*", vcFound).Ok()) {
        return 0;
    }
    return static_cast<std::size_t>(
        std::count_if(vcFound.begin(), vcFound.end(), [](const Platform::CFindData& found) {
            return (found.m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        }));
}

void CBackUpManager::StopBackup() {
    m_threads.StopThread(m_dwThreadId, INFINITE);
    m_dwThreadId = 0;
}

std::vector<std::wstring> CBackUpManager::LastRestoreFailures() const {
    return m_vcRestoreFailures;
}

std::multimap<std::int64_t, std::wstring> CBackUpManager::GetBackups() const {
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
            m_backups.emplace(pFinish->m_nTime, pFinish->m_strName);
        }
        m_dwThreadId = 0;
    } else if (pMessage->m_nType == CRestoreBkupFinishMsg::kType) {
        m_dwThreadId = 0;
    }
}

}  // namespace Branwick
