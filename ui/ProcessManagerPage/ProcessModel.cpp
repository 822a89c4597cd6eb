#include "ui/ProcessManagerPage/ProcessModel.h"

#include <QApplication>
#include <QStyle>

#include <algorithm>
#include <unordered_set>

namespace Branwick::Wnd {

namespace {

QString Text(const std::wstring& str) { return QString::fromStdWString(str); }

}  // namespace

CProcessModel::CProcessModel(QObject* pParent) : QAbstractTableModel(pParent) {
    QStyle* pStyle = QApplication::style();
    m_aStatusIcons[0] = pStyle->standardIcon(QStyle::SP_DialogApplyButton);
    m_aStatusIcons[1] = pStyle->standardIcon(QStyle::SP_MessageBoxWarning);
    m_aStatusIcons[2] = pStyle->standardIcon(QStyle::SP_MessageBoxCritical);
}

int CProcessModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_vcRows.size());
}

int CProcessModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant CProcessModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    static const char* const s_aHeaders[ColumnCount] = {"",          "PID",    "Name",      "CPU Usage",  "Memory Usage",
                                                        "Description", "Signer", "File Path", "Wine Prefix"};
    if (orientation != Qt::Horizontal || nSection < 0 || nSection >= ColumnCount) {
        return {};
    }
    if (nRole == Qt::ToolTipRole && nSection == Memory) {
        return QStringLiteral("Working set, in KB");
    }
    return nRole == Qt::DisplayRole ? QVariant(QString::fromLatin1(s_aHeaders[nSection])) : QVariant();
}

QVariant CProcessModel::data(const QModelIndex& index, int nRole) const {
    const CProcessInfo* p = Process(index.row());
    if (p == nullptr) {
        return {};
    }
    const int nStatus = static_cast<int>(p->m_eStatus);
    if (nRole == kSortRole) {
        switch (index.column()) {
            case Status: return nStatus;
            case Pid: return static_cast<qulonglong>(p->m_dwProcessId);
            case Cpu: return p->m_dCpuUsage;
            case Memory: return static_cast<qulonglong>(p->m_nMemory);
            default: return data(index, Qt::DisplayRole).toString().toLower();
        }
    }
    if (nRole == Qt::DecorationRole && index.column() == Status) {
        return m_aStatusIcons[std::clamp(nStatus, 0, 2)];
    }
    if (nRole == Qt::ToolTipRole) {
        static const char* const s_aStatus[] = {"Not listed as unwanted or malicious", "Listed as unwanted",
                                                "Listed as malicious"};
        return index.column() == Status ? QVariant(QString::fromLatin1(s_aStatus[std::clamp(nStatus, 0, 2)]))
                                        : data(index, Qt::DisplayRole);
    }
    if (nRole == Qt::TextAlignmentRole && (index.column() == Pid || index.column() == Cpu || index.column() == Memory)) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (nRole != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case Pid: return QString::number(p->m_dwProcessId);
        case Name: return Text(p->m_strName);
        case Cpu: return QString::asprintf("%0.2f", p->m_dCpuUsage);
        case Memory: return QString::number(p->m_nMemory);
        case Description: return Text(p->m_strDescription);
        case Signer: return Text(p->m_strSigner);
        case Path: return Text(p->m_strPath);
        case Prefix: return Text(p->m_strPrefix);
        default: return {};
    }
}

void CProcessModel::Update(const std::map<DWORD, CProcessInfo>& map) {
    for (int nRow = static_cast<int>(m_vcRows.size()) - 1; nRow >= 0; --nRow) {
        const auto it = map.find(m_vcRows[static_cast<std::size_t>(nRow)].m_dwProcessId);
        if (it == map.end()) {
            beginRemoveRows({}, nRow, nRow);
            m_vcRows.erase(m_vcRows.begin() + nRow);
            endRemoveRows();
        } else {
            m_vcRows[static_cast<std::size_t>(nRow)] = it->second;
        }
    }
    if (!m_vcRows.empty()) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    }
    std::unordered_set<DWORD> shown;
    for (const CProcessInfo& row : m_vcRows) {
        shown.insert(row.m_dwProcessId);
    }
    std::vector<CProcessInfo> vcNew;
    for (const auto& [dwPid, info] : map) {
        if (!shown.count(dwPid)) {
            vcNew.push_back(info);
        }
    }
    if (!vcNew.empty()) {
        const int nFirst = rowCount();
        beginInsertRows({}, nFirst, nFirst + static_cast<int>(vcNew.size()) - 1);
        m_vcRows.insert(m_vcRows.end(), vcNew.begin(), vcNew.end());
        endInsertRows();
    }
}

void CProcessModel::Remove(DWORD dwPid) {
    const auto it = std::find_if(m_vcRows.begin(), m_vcRows.end(),
                                 [&](const CProcessInfo& row) { return row.m_dwProcessId == dwPid; });
    if (it != m_vcRows.end()) {
        const int nRow = static_cast<int>(it - m_vcRows.begin());
        beginRemoveRows({}, nRow, nRow);
        m_vcRows.erase(it);
        endRemoveRows();
    }
}

const CProcessInfo* CProcessModel::Process(int nRow) const {
    return nRow >= 0 && nRow < rowCount() ? &m_vcRows[static_cast<std::size_t>(nRow)] : nullptr;
}

}  // namespace Branwick::Wnd
