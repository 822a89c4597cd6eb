// The rows of the process list: one per process, keyed by its id, updated in place from each
// sample so that the view keeps its selection and sort order between refreshes.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>

#include <map>
#include <vector>

#include "tools/ProcessManager/ProcessManager.h"

namespace Branwick::Wnd {

class CProcessModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // After the eight usual columns, the Wine prefix a Windows program runs in: its path alone does
    // not tell two prefixes' C: drives apart.
    enum EColumn { Status, Pid, Name, Cpu, Memory, Description, Signer, Path, Prefix, ColumnCount };
    // The role that sorts: numbers for the numeric columns, text for the others.
    static constexpr int kSortRole = Qt::UserRole;

    explicit CProcessModel(QObject* pParent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

    // Updates the rows of processes still running, adds the new ones and removes the rows of
    // processes that have ended.
    void Update(const std::map<DWORD, CProcessInfo>& map);
    // Removes the row of an ended process at once.
    void Remove(DWORD dwPid);
    const CProcessInfo* Process(int nRow) const;

private:
    std::vector<CProcessInfo> m_vcRows;
    QIcon m_aStatusIcons[3];
};

}  // namespace Branwick::Wnd
