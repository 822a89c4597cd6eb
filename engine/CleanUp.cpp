// The fix run: backs up and fixes the selected records of the error collection, category by
// category, writes the registry to disk once, and keeps the backup as a history file.
#include <ctime>
#include <vector>

#include "core/RegData.h"
#include "core/Text.h"
#include "engine/Drivers.h"
#include "engine/Fendral.h"

namespace Branwick {

namespace {

using CRecordList = std::list<CRegError>;

// A record that Fix() repaired, erased from the collection once the run's changes are on disk.
struct SFixed {
    ScanType nBit;
    CRecordList* pList;
    CRecordList::iterator itRecord;
};

struct SFixRun {
    CErrorCollection* pCollection = nullptr;
    DWORD dwFlags = 0;
    CLogFile* pLog = nullptr;
    CFinishFixMessage finish;
    pugi::xml_document document;
    std::vector<SFixed> vcFixed;
};

// The name of the history file of a run at "now", in UTC.
std::wstring HistoryName(std::time_t now) {
    return UtcTimeText(now, "Corvanes_history_%B_%d_%Y_%H_%M_%S");
}

// The history file of this run in the target's data folder, its folders created; empty when there
// is no place for it (the reason has been reported).
std::wstring PrepareHistoryFile(const COperation& op, CLogFile& log) {
    const std::wstring strData =
        op.Target() != nullptr ? op.Target()->DataFolder() : std::wstring();
    if (strData.empty()) {
        ShowMessageBox(L"Can't get USERPROFILE path", L"Corvane", MB_OK);
    }
    const std::wstring strFolder = strData + L"History";
    CStatus status =
        op.Target() != nullptr ? op.Target()->CreateDataFolder() : CStatus{ERROR_PATH_NOT_FOUND};
    if (status.Ok()) {
        status = op.Files().CreateDirectory(strFolder);
    }
    if (!status.Ok() && status.m_lCode != ERROR_ALREADY_EXISTS) {
        const std::wstring strText = L"No history file can be made in \"" + strFolder +
                                     L"\", so no backup can be taken and nothing is fixed. " +
                                     status.m_strText;
        log.Write(strText);
        op.PostLogLine(strText);
        ShowMessageBox(strText, L"Corvane", MB_OK);
        return {};
    }
    // A second run within the same second must not replace the first one's history.
    const std::wstring strName = strFolder + L"\\" + HistoryName(std::time(nullptr));
    std::wstring strFile = strName + L".his";
    for (int n = 2; op.Files().GetFileAttributes(strFile) != INVALID_FILE_ATTRIBUTES; ++n) {
        strFile = strName + L"_" + std::to_wstring(n) + L".his";
    }
    return strFile;
}

// A record whose key lies in a file that cannot be written now (a dirty hive without usable
// logs) is left alone with the reason, so that it blocks neither the run nor the other files; so
// is one whose backup the registry could not take back, since its fix could never be undone.
bool Fixable(const COperation& op, CLogBatch& lines, const CRegError& record) {
    if (record.m_hRoot == 0) {
        return true;
    }
    CStatus status = op.Registry().CheckWritable(record.m_hRoot, record.m_sPath, record.m_dwRegSam);
    if (status.Ok()) {
        status = record.CheckRestorable(op.Registry());
    }
    if (status.Ok()) {
        return true;
    }
    const std::wstring strText = record.GetFullPath() + L" is not fixed: " + status.m_strText;
    lines.Write(strText);
    op.PostLogLine(strText);
    return false;
}

void FixCategory(const COperation& op, SFixRun& run, ScanType nBit, pugi::xml_node backup) {
    CRecordList& list = (*run.pCollection)[nBit];
    const auto nCount = static_cast<unsigned>(list.size());
    int& nFixed = run.finish.m_mapStatistics[nBit].nFixed;
    op.PostFixProgress(0, L"Starting...", nBit, 0);
    run.pLog->Write(L"Fixing is started", false);
    unsigned k = 0;
    CLogBatch lines(*run.pLog);
    for (auto it = list.begin(); it != list.end(); ++it) {
        ++k;
        if (it->m_nState != FIX_STATE_TO_FIX || !Fixable(op, lines, *it)) {
            continue;
        }
        // Junk files are not worth a backup.
        if (nBit != JUNK_FILES) {
            it->Backup(backup, op.Registry());
        }
        if (it->Fix({*op.Target(), op.Record().m_pSink, &op.Recycler()}) != 0) {
            continue;
        }
        lines.Write(it->GetFullPath() + L" is fixed");
        ++nFixed;
        op.PostFixProgress(static_cast<int>(k * 100 / nCount), it->m_sDescription, nBit, nFixed);
        run.vcFixed.push_back({nBit, &list, it});
    }
    lines.Flush();
    run.pLog->Write(L"Fixing is finished");
    op.PostFixProgress(100, L"Starting...", nBit, nFixed);
}

void FixSelected(const COperation& op, SFixRun& run, const std::wstring& strHistoryFile) {
    if (strHistoryFile.empty()) {
        return;
    }
    pugi::xml_node backup = CreateBackupDocument(run.document);
    for (const SScanTypeInfo& info : ScanTypes()) {
        const auto itList = run.pCollection->find(info.nBit);
        if ((run.dwFlags & static_cast<DWORD>(info.nBit)) != 0 &&
            itList != run.pCollection->end() && !itList->second.empty()) {
            FixCategory(op, run, info.nBit, backup);
        }
    }
}

// Undoes the run's registry changes in memory: its registry records stay in the collection and
// are not counted as fixed; file records, whose files are really gone, stay counted.
void KeepRegistryRecords(const COperation& op, SFixRun& run) {
    if (!op.Registry().IsDirty()) {
        // Nothing changed in memory.
    } else if (const CStatus status = op.Registry().Reload(); !status.Ok()) {
        const std::wstring strText = L"The registry could not be read again: " + status.m_strText;
        run.pLog->Write(strText);
        op.PostLogLine(strText);
    }
    std::erase_if(run.vcFixed, [&run](const SFixed& fixed) {
        if (fixed.itRecord->m_hRoot == 0) {
            return false;
        }
        --run.finish.m_mapStatistics[fixed.nBit].nFixed;
        return true;
    });
    run.document.document_element().remove_children();
}

// Where a hive recovered from its logs keeps its original file and logs when the run writes it
// back: a folder beside the history file, named after it. Empty when it has no host path.
std::string OriginalsFolder(const COperation& op, const std::wstring& strHistoryFile) {
    std::string strHost;
    const std::wstring strFolder = strHistoryFile.substr(0, strHistoryFile.rfind(L'.')) + L"_hives";
    return op.Files().HostPath(strFolder, strHost).Ok() ? strHost : std::string();
}

// Writes the run's registry changes to disk, all or nothing.
void Commit(const COperation& op, SFixRun& run, const std::wstring& strHistoryFile) {
    const CStatus status = op.Registry().Flush(OriginalsFolder(op, strHistoryFile));
    if (status.Ok()) {
        return;
    }
    const std::wstring strText =
        L"The registry could not be saved, so nothing was changed in it: " + status.m_strText;
    run.pLog->Write(strText);
    op.PostLogLine(strText);
    ShowMessageBox(strText, L"Corvane", MB_OK);
    KeepRegistryRecords(op, run);
}

void SaveHistory(const COperation& op, SFixRun& run, const std::wstring& strHistoryFile) {
    run.pLog->Write(L"Saving backup");
    const CStatus status = op.Files().WriteFile(strHistoryFile, BackupDocumentText(run.document));
    if (!status.Ok()) {
        throw BRANWICK_EXCEPTION(
            L"The history file " + strHistoryFile + L" could not be saved: " + status.m_strText,
            static_cast<DWORD>(status.m_lCode));
    }
    run.pLog->Write(L"Backup is saved");
}

}  // namespace

std::unique_ptr<CMessage> CleanUp(const COperation& op, CLogFile& log) {
    SFixRun run;
    run.pCollection = op.Record().m_pContext;
    run.dwFlags = op.Record().m_dwFlags;
    run.pLog = &log;
    if (run.pCollection != nullptr) {
        for (const auto& [nBit, list] : *run.pCollection) {
            run.finish.m_mapStatistics[nBit].nFound = static_cast<int>(list.size());
        }
    }
    std::wstring strHistoryFile;
    const bool bFixed = RunGuarded(
        op, L"CleanUp", [] { return std::wstring(); },
        [&] {
            if (run.pCollection == nullptr) {
                throw BRANWICK_EXCEPTION(L"The fix run was given no error collection");
            }
            strHistoryFile = PrepareHistoryFile(op, log);
            FixSelected(op, run, strHistoryFile);
        });
    if (!bFixed) {
        KeepRegistryRecords(op, run);
    } else if (!strHistoryFile.empty()) {
        Commit(op, run, strHistoryFile);
    }
    for (const SFixed& fixed : run.vcFixed) {
        fixed.pList->erase(fixed.itRecord);
    }
    if (bFixed && !strHistoryFile.empty()) {
        RunGuarded(
            op, L"CleanUp", [] { return std::wstring(); },
            [&] { SaveHistory(op, run, strHistoryFile); });
    }
    log.Write(L"Sending FixFinished message");
    return run.finish.Clone();
}

}  // namespace Branwick
