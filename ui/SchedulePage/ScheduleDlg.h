// The schedule page of the settings tab: the triggers of the program's scheduled task, the kind
// of schedule with its pane and start time, the advanced options, and New, Delete and Apply,
// which change the task and the settings together. A timer previews the trigger being edited in
// the task's own words; nothing is stored until Apply or New.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include <array>

#include "app/Schedule/ScheduleForm.h"
#include "ui/Pages/PageSite.h"
#include "ui/SchedulePage/AdvancedSchedulingDlg.h"

namespace Branwick::Wnd {

class CScheduleDlg : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPreviewMs = 400;

    CScheduleDlg(SPageSite& site, QWidget* pParent = nullptr);

    // What the page holds now, as Apply would build it.
    SScheduleInputs Inputs() const;

    void New();
    void Delete();
    void Apply();
    // Opens the advanced dialog (window-modal); its values are used by the next Apply.
    void OpenAdvanced();
    // The preview of the trigger being edited, as the timer shows it.
    void Preview();

    QString Title() const { return m_pTitle->text(); }
    QComboBox* Triggers() const { return m_pTriggers; }
    QCheckBox* MultipleBox() const { return m_pMultiple; }
    QLabel* TextLine() const { return m_pText; }
    QPushButton* NewButton() const { return m_pNew; }
    QPushButton* DeleteButton() const { return m_pDelete; }
    QPushButton* AdvancedButton() const { return m_pAdvanced; }
    QPushButton* ApplyButton() const { return m_pApply; }
    QComboBox* Kind() const { return m_pKind; }
    QTimeEdit* StartTime() const { return m_pStartTime; }
    QSpinBox* DaysInterval() const { return m_pDays; }
    QSpinBox* WeeksInterval() const { return m_pWeeks; }
    // "Mon" (0) .. "Sun" (6).
    QCheckBox* WeekDay(int nIndex) const { return m_weekDays.at(static_cast<std::size_t>(nIndex)); }
    QRadioButton* MonthDayChoice() const { return m_pMonthDayChoice; }
    QSpinBox* MonthDay() const { return m_pMonthDay; }
    QRadioButton* WeekDayChoice() const { return m_pWeekDayChoice; }
    QComboBox* WhichWeek() const { return m_pWhichWeek; }
    QComboBox* DayOfWeek() const { return m_pDayOfWeek; }
    // "January" (0) .. "December" (11).
    QCheckBox* Month(int nIndex) const { return m_months.at(static_cast<std::size_t>(nIndex)); }
    QDateEdit* RunOn() const { return m_pRunOn; }
    QSpinBox* IdleMinutes() const { return m_pIdle; }
    CAdvancedSchedulingDlg* AdvancedDialog() const { return m_pAdvancedDlg; }
    // The advanced values the next Apply uses.
    const SAdvancedSchedule& Advanced() const { return m_advanced; }

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    QWidget* MakeDailyPane();
    QWidget* MakeWeeklyPane();
    QWidget* MakeMonthlyPane();
    QWidget* MakeOncePane();
    QWidget* MakeIdlePane();
    QWidget* MakeTextPane(const QString& strText);
    void OnKindChosen(int nKind);
    void ShowKind(EScheduleKind eKind);
    void ResetAdvanced();
    void LoadTrigger(int nIndex);
    void FillList();
    void UpdateList();
    bool Validate();
    bool StoreIdleWait(const SScheduleInputs& inputs);
    QString TriggerText(WORD wIndex);
    void UpdateMonthDayLimit();
    int StoredCount() const;

    SPageSite& m_site;
    SAdvancedSchedule m_advanced;
    QTimer m_preview;
    QLabel* m_pTitle;
    QComboBox* m_pTriggers;
    QCheckBox* m_pMultiple;
    QLabel* m_pText;
    QPushButton* m_pNew;
    QPushButton* m_pDelete;
    QComboBox* m_pKind;
    QTimeEdit* m_pStartTime;
    QPushButton* m_pAdvanced;
    QPushButton* m_pApply;
    QStackedWidget* m_pPanes;
    QSpinBox* m_pDays = nullptr;
    QSpinBox* m_pWeeks = nullptr;
    std::array<QCheckBox*, 7> m_weekDays{};
    QRadioButton* m_pMonthDayChoice = nullptr;
    QSpinBox* m_pMonthDay = nullptr;
    QRadioButton* m_pWeekDayChoice = nullptr;
    QComboBox* m_pWhichWeek = nullptr;
    QComboBox* m_pDayOfWeek = nullptr;
    std::array<QCheckBox*, 12> m_months{};
    QDateEdit* m_pRunOn = nullptr;
    QSpinBox* m_pIdle = nullptr;
    QPointer<CAdvancedSchedulingDlg> m_pAdvancedDlg;
};

}  // namespace Branwick::Wnd
