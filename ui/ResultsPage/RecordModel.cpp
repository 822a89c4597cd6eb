#include "ui/ResultsPage/RecordModel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>


namespace Branwick::Wnd {

namespace {

constexpr int kMargin = 4;
constexpr int kLines = 3;

}  // namespace

std::wstring FixLine(const CRegError& record) {
    std::wstring strLine;
    for (const auto& pFix : record.GetFixes()) {
        const std::wstring strText = pFix->GetDescription();
        if (strText.empty()) {
            break;
        }
        strLine += strText + L" ";
    }
    return strLine;
}

void CRecordModel::SetRecords(std::vector<CRegError*> vcRecords, const Platform::CRegistry* pRegistry) {
    beginResetModel();
    m_vcRecords = std::move(vcRecords);
    m_pRegistry = pRegistry;
    endResetModel();
}

void CRecordModel::MarkAll(bool bMark) {
    for (CRegError* pRecord : m_vcRecords) {
        pRecord->m_nState = bMark ? FIX_STATE_TO_FIX : FIX_STATE_LEFT;
    }
    if (!m_vcRecords.empty()) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
    }
}

int CRecordModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_vcRecords.size());
}

int CRecordModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant CRecordModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid()) {
        return {};
    }
    const CRegError& record = *Record(index.row());
    if (index.column() == 1) {
        return nRole == Qt::DisplayRole ? QVariant(tr("Ignore")) : QVariant();
    }
    switch (nRole) {
    case Qt::DisplayRole: return QString::fromStdWString(record.m_sDescription);
    // The path under which a registry editor of the target finds the key.
    case PathRole: return QString::fromStdWString(record.GetDisplayPath(*m_pRegistry));
    case FixesRole: return QString::fromStdWString(FixLine(record));
    case Qt::CheckStateRole: return record.m_nState == FIX_STATE_TO_FIX ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole: return QString::fromStdWString(record.GetDisplayPath(*m_pRegistry));
    default: return {};
    }
}

bool CRecordModel::setData(const QModelIndex& index, const QVariant& value, int nRole) {
    if (!index.isValid() || index.column() != 0 || nRole != Qt::CheckStateRole) {
        return false;
    }
    Record(index.row())->m_nState = value.value<Qt::CheckState>() == Qt::Checked ? FIX_STATE_TO_FIX : FIX_STATE_LEFT;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags CRecordModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    return index.column() == 0 ? f | Qt::ItemIsUserCheckable : f;
}

QVariant CRecordModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole) {
        return {};
    }
    return nSection == 0 ? tr("Problem") : tr("Action");
}

QRect CRecordDelegate::CheckRect(const QStyleOptionViewItem& option) {
    const QStyle* pStyle = option.widget != nullptr ? option.widget->style() : QApplication::style();
    const int nSize = pStyle->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
    return {option.rect.left() + kMargin, option.rect.top() + kMargin + 1, nSize, nSize};
}

void CRecordDelegate::paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QStyle* pStyle = opt.widget != nullptr ? opt.widget->style() : QApplication::style();
    const QString strText = opt.text;
    opt.text.clear();
    opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    pStyle->drawControl(QStyle::CE_ItemViewItem, &opt, pPainter, opt.widget);

    const bool bSelected = (opt.state & QStyle::State_Selected) != 0;
    pPainter->save();
    const QPalette::ColorRole textRole = bSelected ? QPalette::HighlightedText : QPalette::Text;
    const QRect rect = opt.rect.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (index.column() == 1) {
        QFont font = opt.font;
        font.setUnderline(true);
        pPainter->setFont(font);
        pPainter->setPen(opt.palette.color(bSelected ? QPalette::HighlightedText : QPalette::Link));
        pPainter->drawText(rect, Qt::AlignLeft | Qt::AlignTop, strText);
        pPainter->restore();
        return;
    }
    QStyleOptionButton box;
    box.rect = CheckRect(opt);
    box.state = QStyle::State_Enabled |
                (index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked ? QStyle::State_On
                                                                                     : QStyle::State_Off);
    pStyle->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, pPainter, opt.widget);

    const int nLeft = box.rect.right() + 2 * kMargin;
    const int nLine = opt.fontMetrics.height();
    QRect line(nLeft, rect.top(), rect.right() - nLeft, nLine);
    QFont bold = opt.font;
    bold.setBold(true);
    pPainter->setPen(opt.palette.color(textRole));
    pPainter->setFont(bold);
    pPainter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetrics(bold).elidedText(strText, Qt::ElideRight, line.width()));
    pPainter->setFont(opt.font);
    for (const int nRole : {static_cast<int>(CRecordModel::PathRole), static_cast<int>(CRecordModel::FixesRole)}) {
        line.translate(0, nLine);
        pPainter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                           opt.fontMetrics.elidedText(index.data(nRole).toString(), Qt::ElideMiddle, line.width()));
    }
    pPainter->restore();
}

QSize CRecordDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int nHeight = kLines * option.fontMetrics.height() + 2 * kMargin;
    if (index.column() == 1) {
        return {option.fontMetrics.horizontalAdvance(tr("Ignore")) + 4 * kMargin, nHeight};
    }
    return {400, nHeight};
}

bool CRecordDelegate::editorEvent(QEvent* pEvent, QAbstractItemModel* pModel, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) {
    if (pEvent->type() == QEvent::KeyPress && index.column() == 0 &&
        static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Space) {
        const bool bChecked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        return pModel->setData(index, bChecked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    if (pEvent->type() != QEvent::MouseButtonRelease ||
        static_cast<QMouseEvent*>(pEvent)->button() != Qt::LeftButton) {
        return false;
    }
    const QPoint point = static_cast<QMouseEvent*>(pEvent)->position().toPoint();
    if (index.column() == 1) {
        emit IgnoreClicked(index.row());
        return true;
    }
    if (!CheckRect(option).adjusted(-kMargin, -kMargin, kMargin, kMargin).contains(point)) {
        return false;
    }
    const bool bChecked = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
    return pModel->setData(index, bChecked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

}  // namespace Branwick::Wnd
