#include "ui/SchedulePage/ScheduleDlg.h"

#include <QAbstractItemView>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/Exceptions.h"

namespace Branwick::Wnd {

namespace {

const QString kNotScheduled = QStringLiteral("Task not scheduled");

SScheduleDate Today() {
    return FromQDate(QDate::currentDate());
}

}  // namespace

CScheduleDlg::CScheduleDlg(SPageSite& site, QWidget* pParent)
    : QWidget(pParent), m_site(site), m_advanced(SAdvancedSchedule::Reset(Today())),
      m_pTitle(new QLabel(this)), m_pTriggers(new QComboBox(this)),
      m_pMultiple(new QCheckBox(tr("Show multiple schedules"), this)), m_pText(new QLabel(this)),
      m_pNew(new QPushButton(tr("&New"), this)), m_pDelete(new QPushButton(tr("&Delete"), this)),
      m_pKind(new QComboBox(this)), m_pStartTime(new QTimeEdit(QTime(9, 0), this)),
      m_pAdvanced(new QPushButton(tr("Ad&vanced..."), this)), m_pApply(new QPushButton(tr("&Apply"), this)),
      m_pPanes(new QStackedWidget(this)) {
    m_pTitle->setObjectName("pageSubtitle");
    m_pText->setWordWrap(true);
    m_pText->setTextFormat(Qt::PlainText);
    m_pText->setMinimumHeight(40);
    m_pTriggers->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_pTriggers->setMinimumContentsLength(40);
    m_pStartTime->setDisplayFormat("HH:mm");
    for (int i = 0; i < kScheduleKinds; ++i) {
        m_pKind->addItem(QString::fromWCharArray(ScheduleKindName(static_cast<EScheduleKind>(i))));
    }
    m_pPanes->addWidget(MakeDailyPane());
    m_pPanes->addWidget(MakeWeeklyPane());
    m_pPanes->addWidget(MakeMonthlyPane());
    m_pPanes->addWidget(MakeOncePane());
    m_pPanes->addWidget(MakeTextPane(tr("The scan runs each time the system starts.")));
    m_pPanes->addWidget(MakeTextPane(tr("The scan runs each time you log on.")));
    m_pPanes->addWidget(MakeIdlePane());

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pTitle);
    pLayout->addWidget(m_pMultiple);
    auto* pList = new QHBoxLayout;
    pList->addWidget(m_pTriggers, 1);
    pList->addWidget(m_pNew);
    pList->addWidget(m_pDelete);
    pLayout->addLayout(pList);
    pLayout->addWidget(m_pText);
    auto* pKindRow = new QHBoxLayout;
    pKindRow->addWidget(new QLabel(tr("Schedule Task:"), this));
    pKindRow->addWidget(m_pKind);
    pKindRow->addSpacing(16);
    pKindRow->addWidget(new QLabel(tr("Start time:"), this));
    pKindRow->addWidget(m_pStartTime);
    pKindRow->addStretch(1);
    pKindRow->addWidget(m_pAdvanced);
    pLayout->addLayout(pKindRow);
    auto* pPaneBox = new QGroupBox(tr("Schedule"), this);
    auto* pPaneLayout = new QVBoxLayout(pPaneBox);
    pPaneLayout->addWidget(m_pPanes);
    pLayout->addWidget(pPaneBox);
    pLayout->addStretch(1);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    pButtons->addWidget(m_pApply);
    pLayout->addLayout(pButtons);

    connect(m_pKind, &QComboBox::activated, this, &CScheduleDlg::OnKindChosen);
    connect(m_pTriggers, &QComboBox::activated, this, [this](int nIndex) {
        if (nIndex < StoredCount()) {
            // Entries a preview rewrote show their own trigger again.
            for (WORD w = 0; w < StoredCount(); ++w) {
                m_pTriggers->setItemText(w, TriggerText(w));
            }
            LoadTrigger(nIndex);
        }
    });
    connect(m_pMultiple, &QCheckBox::toggled, this, &CScheduleDlg::UpdateList);
    connect(m_pNew, &QPushButton::clicked, this, &CScheduleDlg::New);
    connect(m_pDelete, &QPushButton::clicked, this, &CScheduleDlg::Delete);
    connect(m_pApply, &QPushButton::clicked, this, &CScheduleDlg::Apply);
    connect(m_pAdvanced, &QPushButton::clicked, this, &CScheduleDlg::OpenAdvanced);
    connect(&m_preview, &QTimer::timeout, this, &CScheduleDlg::Preview);
    m_preview.setInterval(kPreviewMs);

    FillList();
    if (StoredCount() > 0) {
        LoadTrigger(0);
    } else {
        ShowKind(EScheduleKind::Daily);
    }
    UpdateMonthDayLimit();
}

QWidget* CScheduleDlg::MakeDailyPane() {
    auto* pPane = new QWidget(this);
    auto* pLayout = new QHBoxLayout(pPane);
    pLayout->setAlignment(Qt::AlignTop);
    m_pDays = new QSpinBox(pPane);
    m_pDays->setRange(1, kMaxDaysInterval);
    pLayout->addWidget(new QLabel(tr("Every"), pPane));
    pLayout->addWidget(m_pDays);
    pLayout->addWidget(new QLabel(tr("day(s)"), pPane));
    pLayout->addStretch(1);
    return pPane;
}

QWidget* CScheduleDlg::MakeWeeklyPane() {
    auto* pPane = new QWidget(this);
    auto* pLayout = new QVBoxLayout(pPane);
    auto* pRow = new QHBoxLayout;
    m_pWeeks = new QSpinBox(pPane);
    m_pWeeks->setRange(1, kMaxWeeksInterval);
    pRow->addWidget(new QLabel(tr("Every"), pPane));
    pRow->addWidget(m_pWeeks);
    pRow->addWidget(new QLabel(tr("week(s) on:"), pPane));
    pRow->addStretch(1);
    pLayout->addLayout(pRow);
    auto* pDays = new QHBoxLayout;
    const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    for (std::size_t i = 0; i < m_weekDays.size(); ++i) {
        m_weekDays[i] = new QCheckBox(tr(kDays[i]), pPane);
        pDays->addWidget(m_weekDays[i]);
    }
    pDays->addStretch(1);
    pLayout->addLayout(pDays);
    pLayout->addStretch(1);
    return pPane;
}

QWidget* CScheduleDlg::MakeMonthlyPane() {
    auto* pPane = new QWidget(this);
    auto* pLayout = new QGridLayout(pPane);
    m_pMonthDayChoice = new QRadioButton(tr("Day"), pPane);
    m_pMonthDay = new QSpinBox(pPane);
    m_pMonthDay->setRange(1, 31);
    m_pWeekDayChoice = new QRadioButton(tr("The"), pPane);
    m_pWhichWeek = new QComboBox(pPane);
    m_pWhichWeek->addItems({tr("first"), tr("second"), tr("third"), tr("fourth"), tr("last")});
    m_pDayOfWeek = new QComboBox(pPane);
    m_pDayOfWeek->addItems({tr("Monday"), tr("Tuesday"), tr("Wednesday"), tr("Thursday"), tr("Friday"),
                            tr("Saturday"), tr("Sunday")});
    m_pMonthDayChoice->setChecked(true);
    pLayout->addWidget(m_pMonthDayChoice, 0, 0);
    pLayout->addWidget(m_pMonthDay, 0, 1);
    pLayout->addWidget(m_pWeekDayChoice, 1, 0);
    pLayout->addWidget(m_pWhichWeek, 1, 1);
    pLayout->addWidget(m_pDayOfWeek, 1, 2);
    auto* pMonths = new QGridLayout;
    const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                             "July",    "August",   "September", "October", "November", "December"};
    for (std::size_t i = 0; i < m_months.size(); ++i) {
        m_months[i] = new QCheckBox(tr(kMonths[i]), pPane);
        m_months[i]->setChecked(true);
        connect(m_months[i], &QCheckBox::toggled, this, &CScheduleDlg::UpdateMonthDayLimit);
        pMonths->addWidget(m_months[i], static_cast<int>(i % 4), static_cast<int>(i / 4));
    }
    pLayout->addWidget(new QLabel(tr("of the months:"), pPane), 2, 0, Qt::AlignTop);
    pLayout->addLayout(pMonths, 2, 1, 1, 3);
    pLayout->setColumnStretch(3, 1);
    return pPane;
}

QWidget* CScheduleDlg::MakeOncePane() {
    auto* pPane = new QWidget(this);
    auto* pLayout = new QHBoxLayout(pPane);
    pLayout->setAlignment(Qt::AlignTop);
    m_pRunOn = new QDateEdit(QDate::currentDate(), pPane);
    m_pRunOn->setCalendarPopup(true);
    m_pRunOn->setDisplayFormat("yyyy-MM-dd");
    pLayout->addWidget(new QLabel(tr("Run on:"), pPane));
    pLayout->addWidget(m_pRunOn);
    pLayout->addStretch(1);
    return pPane;
}

QWidget* CScheduleDlg::MakeIdlePane() {
    auto* pPane = new QWidget(this);
    auto* pLayout = new QHBoxLayout(pPane);
    pLayout->setAlignment(Qt::AlignTop);
    m_pIdle = new QSpinBox(pPane);
    m_pIdle->setRange(1, kMaxIdleMinutes);
    WORD wIdle = 10;
    WORD wDeadline = 0;
    m_site.m_settings.GetIdleWait(wIdle, wDeadline);
    m_pIdle->setValue(wIdle);
    pLayout->addWidget(new QLabel(tr("When the computer has been idle for"), pPane));
    pLayout->addWidget(m_pIdle);
    pLayout->addWidget(new QLabel(tr("minute(s)"), pPane));
    pLayout->addStretch(1);
    return pPane;
}

QWidget* CScheduleDlg::MakeTextPane(const QString& strText) {
    auto* pPane = new QLabel(strText, this);
    pPane->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return pPane;
}

SScheduleInputs CScheduleDlg::Inputs() const {
    SScheduleInputs inputs;
    inputs.eKind = static_cast<EScheduleKind>(m_pKind->currentIndex());
    inputs.wStartHour = static_cast<WORD>(m_pStartTime->time().hour());
    inputs.wStartMinute = static_cast<WORD>(m_pStartTime->time().minute());
    inputs.wDaysInterval = static_cast<WORD>(m_pDays->value());
    inputs.wWeeksInterval = static_cast<WORD>(m_pWeeks->value());
    inputs.wWeekDays = 0;
    for (int i = 0; i < 7; ++i) {
        inputs.wWeekDays |= m_weekDays[static_cast<std::size_t>(i)]->isChecked() ? DayOfWeekMask(i) : 0;
    }
    inputs.bMonthDay = m_pMonthDayChoice->isChecked();
    inputs.wMonthDay = static_cast<WORD>(m_pMonthDay->value());
    inputs.nWhichWeek = m_pWhichWeek->currentIndex();
    inputs.nDayOfWeek = m_pDayOfWeek->currentIndex();
    inputs.wMonths = 0;
    for (std::size_t i = 0; i < m_months.size(); ++i) {
        inputs.wMonths |= m_months[i]->isChecked() ? static_cast<WORD>(1u << i) : 0;
    }
    inputs.runOn = FromQDate(m_pRunOn->date());
    inputs.wIdleMinutes = static_cast<WORD>(m_pIdle->value());
    inputs.advanced = m_advanced;
    return inputs;
}

void CScheduleDlg::UpdateMonthDayLimit() {
    WORD wMonths = 0;
    for (std::size_t i = 0; i < m_months.size(); ++i) {
        wMonths |= m_months[i]->isChecked() ? static_cast<WORD>(1u << i) : 0;
    }
    m_pMonthDay->setMaximum(LongestMonthDay(wMonths));
}

void CScheduleDlg::OnKindChosen(int nKind) {
    ShowKind(static_cast<EScheduleKind>(nKind));
    ResetAdvanced();
}

void CScheduleDlg::ShowKind(EScheduleKind eKind) {
    const QSignalBlocker blocker(m_pKind);
    m_pKind->setCurrentIndex(static_cast<int>(eKind));
    m_pPanes->setCurrentIndex(static_cast<int>(eKind));
    m_pTitle->setText(QString::fromWCharArray(ScheduleKindTitle(eKind)));
    m_pStartTime->setEnabled(ScheduleKindHasStartTime(eKind));
}

void CScheduleDlg::ResetAdvanced() {
    m_advanced = SAdvancedSchedule::Reset(Today());
}

int CScheduleDlg::StoredCount() const {
    return static_cast<int>(m_site.m_settings.GetTriggers().size());
}

QString CScheduleDlg::TriggerText(WORD wIndex) {
    const QString strText = QString::fromStdWString(m_site.m_settings.GetTriggerInfo(wIndex));
    return strText.isEmpty() ? kNotScheduled : strText;
}

void CScheduleDlg::LoadTrigger(int nIndex) {
    if (nIndex < 0 || nIndex >= StoredCount()) {
        return;
    }
    WORD wIdle = 10;
    WORD wDeadline = 0;
    m_site.m_settings.GetIdleWait(wIdle, wDeadline);
    const SScheduleInputs inputs =
        SScheduleInputs::FromTrigger(m_site.m_settings.GetTriggers()[static_cast<std::size_t>(nIndex)], wIdle);
    ShowKind(inputs.eKind);
    m_advanced = inputs.advanced;
    m_pStartTime->setTime(QTime(inputs.wStartHour, inputs.wStartMinute));
    m_pDays->setValue(inputs.wDaysInterval);
    m_pWeeks->setValue(inputs.wWeeksInterval);
    for (int i = 0; i < 7; ++i) {
        m_weekDays[static_cast<std::size_t>(i)]->setChecked((inputs.wWeekDays & DayOfWeekMask(i)) != 0);
    }
    if (inputs.eKind == EScheduleKind::Monthly) {
        for (std::size_t i = 0; i < m_months.size(); ++i) {
            m_months[i]->setChecked((inputs.wMonths & (1u << i)) != 0);
        }
        (inputs.bMonthDay ? m_pMonthDayChoice : m_pWeekDayChoice)->setChecked(true);
        m_pMonthDay->setValue(inputs.wMonthDay);
        m_pWhichWeek->setCurrentIndex(inputs.nWhichWeek);
        m_pDayOfWeek->setCurrentIndex(inputs.nDayOfWeek);
    }
    m_pRunOn->setDate(ToQDate(inputs.runOn));
    m_pIdle->setValue(inputs.wIdleMinutes);
}

void CScheduleDlg::FillList() {
    m_pTriggers->clear();
    for (WORD w = 0; w < StoredCount(); ++w) {
        m_pTriggers->addItem(TriggerText(w));
    }
    if (StoredCount() == 0) {
        m_pTriggers->addItem(kNotScheduled);
    }
    m_pTriggers->setCurrentIndex(0);
    const QSignalBlocker blocker(m_pMultiple);
    m_pMultiple->setChecked(StoredCount() > 1);
    UpdateList();
}

void CScheduleDlg::UpdateList() {
    const int nCount = StoredCount();
    if (nCount > 1) {
        const QSignalBlocker blocker(m_pMultiple);
        m_pMultiple->setChecked(true);
    }
    m_pMultiple->setEnabled(nCount <= 1);
    const bool bMultiple = m_pMultiple->isChecked();
    m_pTriggers->setVisible(bMultiple);
    m_pNew->setVisible(bMultiple);
    m_pDelete->setVisible(bMultiple);
    m_pText->setVisible(!bMultiple);
    m_pDelete->setEnabled(nCount > 0);
    m_pNew->setEnabled(static_cast<std::size_t>(nCount) < kMaxTriggers);
    if (!bMultiple) {
        m_pText->setText(nCount > 0 ? TriggerText(0) : kNotScheduled);
    }
}

bool CScheduleDlg::Validate() {
    if (const std::wstring strRefused = Inputs().Validate(); !strRefused.empty()) {
        m_site.m_messageBox.Show(strRefused, L"Corvane", MB_OK);
        return false;
    }
    return true;
}

bool CScheduleDlg::StoreIdleWait(const SScheduleInputs& inputs) {
    if (inputs.eKind != EScheduleKind::WhenIdle) {
        return true;
    }
    try {
        m_site.m_settings.SetIdleWait(inputs.wIdleMinutes, 0);
        return true;
    } catch (const CBranwickException& e) {
        m_site.m_messageBox.Show(L"The idle time could not be set.\n\n" + e.GetMessage(), L"Corvane",
                                 MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
}

void CScheduleDlg::New() {
    if (static_cast<std::size_t>(StoredCount()) >= kMaxTriggers) {
        return;
    }
    ResetAdvanced();
    if (!Validate()) {
        return;
    }
    const SScheduleInputs inputs = Inputs();
    if (!StoreIdleWait(inputs)) {
        return;
    }
    const bool bFirst = StoredCount() == 0;
    const WORD wIndex = m_site.m_settings.AddTrigger(inputs.Build());
    if (wIndex == 0xFFFF) {
        return;  // the settings have said why
    }
    if (bFirst) {
        m_pTriggers->clear();
    }
    m_pTriggers->addItem(TriggerText(wIndex));
    m_pTriggers->setCurrentIndex(m_pTriggers->count() - 1);
    UpdateList();
}

void CScheduleDlg::Delete() {
    const int nIndex = m_pTriggers->currentIndex();
    if (nIndex < 0 || nIndex >= StoredCount()) {
        return;
    }
    try {
        m_site.m_settings.DelTriggerAt(static_cast<WORD>(nIndex));
    } catch (const CBranwickException& e) {
        m_site.m_messageBox.Show(L"The schedule could not be deleted.\n\n" + e.GetMessage(), L"Corvane",
                                 MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_pTriggers->removeItem(nIndex);
    if (StoredCount() == 0) {
        m_pTriggers->clear();
        m_pTriggers->addItem(kNotScheduled);
        m_pTriggers->setCurrentIndex(0);
    } else {
        m_pTriggers->setCurrentIndex(std::max(nIndex - 1, 0));
        LoadTrigger(m_pTriggers->currentIndex());
    }
    UpdateList();
}

void CScheduleDlg::Apply() {
    if (!Validate()) {
        return;
    }
    const SScheduleInputs inputs = Inputs();
    if (!StoreIdleWait(inputs)) {
        return;
    }
    const TASK_TRIGGER trigger = inputs.Build();
    if (StoredCount() == 0) {
        const WORD wIndex = m_site.m_settings.AddTrigger(trigger);
        if (wIndex == 0xFFFF) {
            return;
        }
        m_pTriggers->clear();
        m_pTriggers->addItem(TriggerText(wIndex));
        m_pTriggers->setCurrentIndex(0);
    } else {
        const int nIndex = m_pMultiple->isChecked() ? std::max(m_pTriggers->currentIndex(), 0) : 0;
        m_site.m_settings.ChangeTrigger(static_cast<WORD>(nIndex), trigger);
        m_pTriggers->setItemText(nIndex, TriggerText(static_cast<WORD>(nIndex)));
    }
    UpdateList();
}

void CScheduleDlg::OpenAdvanced() {
    if (m_pAdvancedDlg != nullptr) {
        return;
    }
    const SScheduleInputs inputs = Inputs();
    const bool bStartTime = ScheduleKindHasStartTime(inputs.eKind);
    m_pAdvancedDlg = new CAdvancedSchedulingDlg(m_advanced, bStartTime ? inputs.wStartHour : 0,
                                                bStartTime ? inputs.wStartMinute : 0, m_site.m_messageBox, this);
    m_pAdvancedDlg->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_pAdvancedDlg, &QDialog::accepted, this, [this] { m_advanced = m_pAdvancedDlg->Values(); });
    m_pAdvancedDlg->open();
}

void CScheduleDlg::Preview() {
    if (m_pKind->view()->isVisible() || m_pAdvancedDlg != nullptr) {
        return;
    }
    const SScheduleInputs inputs = Inputs();
    QString strText = QString::fromStdWString(inputs.Validate());
    if (strText.isEmpty()) {
        strText = QString::fromStdWString(m_site.m_settings.GetTempTriggerInfo(inputs.Build()));
    }
    if (strText.isEmpty()) {
        strText = kNotScheduled;
    }
    if (!m_pMultiple->isChecked()) {
        m_pText->setText(strText);
    } else if (m_pTriggers->count() == 0) {
        m_pTriggers->addItem(strText);
    } else {
        m_pTriggers->setItemText(std::max(m_pTriggers->currentIndex(), 0), strText);
    }
}

void CScheduleDlg::showEvent(QShowEvent* pEvent) {
    m_preview.start();
    QWidget::showEvent(pEvent);
}

void CScheduleDlg::hideEvent(QHideEvent* pEvent) {
    m_preview.stop();
    QWidget::hideEvent(pEvent);
}

}  // namespace Branwick::Wnd
