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

// The path as the user finds it with a registry editor: on a 64-bit target a record of the
// 32-bit view in the categories whose keys Windows redirects names the Wow6432Node key that
// holds it. Only the text changes.
std::wstring DisplayPath(const CRegError& record, bool bTarget64);

// What fixing the record does: the descriptions of its fixes, each followed by a space, up to the
// first empty one.
std::wstring FixLine(const CRegError& record);

class CRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum ERole { PathRole = Qt::UserRole + 1, FixesRole };

    explicit CRecordModel(QObject* pParent = nullptr) : QAbstractTableModel(pParent) {}

    void SetRecords(std::vector<CRegError*> vcRecords, bool bTarget64);
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
    bool m_bTarget64 = false;
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
