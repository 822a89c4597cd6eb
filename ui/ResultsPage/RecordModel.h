// The findings of one category as the results list shows them: column 0 the check box, the
// description, the path and the fixes; column 1 the "Ignore" link. The model points into the
// scan manager's collection, which nothing changes while the results are shown (a scan or a fix
// refills the model when it ends).
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include <vector>

#include "core/RegError.h"

namespace Branwick::Wnd {

// What fixing the record does: the descriptions of its fixes, each followed by a space, up to the
// first empty one.
std::wstring FixLine(const CRegError& record);

class CRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum ERole { PathRole = Qt::UserRole + 1, FixesRole };

    explicit CRecordModel(QObject* pParent = nullptr) : QAbstractTableModel(pParent) {}

    // pRegistry: the target's, which says where a record's key is found (may be null when there
    // are no records).
    void SetRecords(std::vector<CRegError*> vcRecords, const Platform::CRegistry* pRegistry);
    CRegError* Record(int nRow) const { return m_vcRecords.at(static_cast<std::size_t>(nRow)); }
    // Every record of the list (fix state 1) or none (0).
    void MarkAll(bool bMark);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int nRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

private:
    std::vector<CRegError*> m_vcRecords;
    const Platform::CRegistry* m_pRegistry = nullptr;
};

// Draws a finding in three lines (bold description, path, fixes) beside its check box, and the
// "Ignore" column as a link; a click on the box toggles it, a click on the link asks to ignore.
class CRecordDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* pEvent, QAbstractItemModel* pModel, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Where the check box of a row of that rectangle is drawn.
    static QRect CheckRect(const QStyleOptionViewItem& option);

signals:
    void IgnoreClicked(int nRow);
};

}  // namespace Branwick::Wnd
