#include "ui/SchedulePage/AdvancedSchedulingDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace Branwick::Wnd {

QDate ToQDate(const SScheduleDate& date) {
    const QDate qdate(date.wYear, date.wMonth, date.wDay);
    return qdate.isValid() ? qdate : QDate::currentDate();
}

SScheduleDate FromQDate(const QDate& date) {
    return {static_cast<WORD>(date.year()), static_cast<WORD>(date.month()), static_cast<WORD>(date.day())};
}

CAdvancedSchedulingDlg::CAdvancedSchedulingDlg(const SAdvancedSchedule& advanced, WORD wStartHour,
                                               WORD wStartMinute, IMessageBox& messageBox, QWidget* pParent)
    : QDialog(pParent), m_wStartHour(wStartHour), m_wStartMinute(wStartMinute), m_messageBox(messageBox),
      m_pStart(new QDateEdit(ToQDate(advanced.begin), this)), m_pUntil(new QCheckBox(tr("Until:"), this)),
      m_pUntilDate(new QDateEdit(ToQDate(advanced.until), this)), m_pRepeat(new QCheckBox(tr("Repeat task"), this)),
      m_pEvery(new QSpinBox(this)), m_pUnit(new QComboBox(this)), m_pTimeChoice(new QRadioButton(tr("Time:"), this)),
      m_pTime(new QTimeEdit(QTime(wStartHour, wStartMinute), this)),
      m_pDurationChoice(new QRadioButton(tr("Duration:"), this)), m_pHours(new QSpinBox(this)),
      m_pMinutes(new QSpinBox(this)),
      m_pStop(new QCheckBox(tr("If the task is still running, stop it at this time."), this)) {
    setWindowTitle(tr("Advanced Schedule Options"));
    for (QDateEdit* pDate : {m_pStart, m_pUntilDate}) {
        pDate->setCalendarPopup(true);
        pDate->setDisplayFormat("yyyy-MM-dd");
    }
    m_pTime->setDisplayFormat("HH:mm");
    m_pUntil->setChecked(advanced.bUntil);
    m_pRepeat->setChecked(advanced.bRepeat);
    m_pEvery->setRange(0, 99999);
    m_pEvery->setValue(static_cast<int>(advanced.dwEvery));
    m_pUnit->addItems({tr("minutes"), tr("hours")});
    m_pUnit->setCurrentIndex(advanced.bHours ? 1 : 0);
    m_pTime->setTime(advanced.bUntilTime ? QTime(advanced.wUntilHour, advanced.wUntilMinute)
                                         : QTime(wStartHour, wStartMinute));
    (advanced.bUntilTime ? m_pTimeChoice : m_pDurationChoice)->setChecked(true);
    m_pHours->setRange(0, 9999);
    m_pHours->setValue(static_cast<int>(advanced.dwDurationHours));
    m_pMinutes->setRange(0, 59);
    m_pMinutes->setValue(static_cast<int>(advanced.dwDurationMinutes));
    m_pStop->setChecked(advanced.bStop);

    auto* pLayout = new QVBoxLayout(this);
    auto* pDates = new QGridLayout;
    pDates->addWidget(new QLabel(tr("Start Date:"), this), 0, 0);
    pDates->addWidget(m_pStart, 0, 1);
    pDates->addWidget(m_pUntil, 1, 0);
    pDates->addWidget(m_pUntilDate, 1, 1);
    pDates->setColumnStretch(2, 1);
    pLayout->addLayout(pDates);
    pLayout->addWidget(m_pRepeat);
    auto* pRepeat = new QGridLayout;
    pRepeat->setContentsMargins(20, 0, 0, 0);
    pRepeat->addWidget(new QLabel(tr("Every:"), this), 0, 0);
    pRepeat->addWidget(m_pEvery, 0, 1);
    pRepeat->addWidget(m_pUnit, 0, 2);
    pRepeat->addWidget(new QLabel(tr("Until:"), this), 1, 0);
    pRepeat->addWidget(m_pTimeChoice, 1, 1);
    pRepeat->addWidget(m_pTime, 1, 2);
    pRepeat->addWidget(m_pDurationChoice, 2, 1);
    auto* pDuration = new QHBoxLayout;
    pDuration->addWidget(m_pHours);
    pDuration->addWidget(new QLabel(tr("Hour(s)"), this));
    pDuration->addWidget(m_pMinutes);
    pDuration->addWidget(new QLabel(tr("Minute(s)"), this));
    pRepeat->addLayout(pDuration, 2, 2);
    pRepeat->addWidget(m_pStop, 3, 0, 1, 4);
    pRepeat->setColumnStretch(3, 1);
    pLayout->addLayout(pRepeat);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    pLayout->addWidget(pButtons);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CAdvancedSchedulingDlg::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QAbstractButton* pButton : {static_cast<QAbstractButton*>(m_pUntil), static_cast<QAbstractButton*>(m_pRepeat),
                                     static_cast<QAbstractButton*>(m_pTimeChoice)}) {
        connect(pButton, &QAbstractButton::toggled, this, &CAdvancedSchedulingDlg::UpdateEnabled);
    }
    UpdateEnabled();
}

void CAdvancedSchedulingDlg::UpdateEnabled() {
    m_pUntilDate->setEnabled(m_pUntil->isChecked());
    const bool bRepeat = m_pRepeat->isChecked();
    for (QWidget* pWidget : std::initializer_list<QWidget*>{m_pEvery, m_pUnit, m_pTimeChoice, m_pDurationChoice, m_pStop}) {
        pWidget->setEnabled(bRepeat);
    }
    m_pTime->setEnabled(bRepeat && m_pTimeChoice->isChecked());
    m_pHours->setEnabled(bRepeat && !m_pTimeChoice->isChecked());
    m_pMinutes->setEnabled(bRepeat && !m_pTimeChoice->isChecked());
}

SAdvancedSchedule CAdvancedSchedulingDlg::Values() const {
    SAdvancedSchedule advanced;
    advanced.begin = FromQDate(m_pStart->date());
    advanced.bUntil = m_pUntil->isChecked();
    advanced.until = FromQDate(m_pUntilDate->date());
    advanced.bRepeat = m_pRepeat->isChecked();
    advanced.dwEvery = static_cast<DWORD>(m_pEvery->value());
    advanced.bHours = m_pUnit->currentIndex() == 1;
    advanced.bUntilTime = m_pTimeChoice->isChecked();
    advanced.wUntilHour = static_cast<WORD>(m_pTime->time().hour());
    advanced.wUntilMinute = static_cast<WORD>(m_pTime->time().minute());
    advanced.dwDurationHours = static_cast<DWORD>(m_pHours->value());
    advanced.dwDurationMinutes = static_cast<DWORD>(m_pMinutes->value());
    advanced.bStop = m_pStop->isChecked();
    return advanced;
}

void CAdvancedSchedulingDlg::accept() {
    if (const std::wstring strRefused = Values().Validate(m_wStartHour, m_wStartMinute); !strRefused.empty()) {
        m_messageBox.Show(strRefused, L"Corvane", MB_OK);
        return;
    }
    QDialog::accept();
}

}  // namespace Branwick::Wnd
