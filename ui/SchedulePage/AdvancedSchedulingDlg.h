// The advanced options of a schedule: the start date, an end date, a repetition within the day
// and whether to stop the task when it ends. OK checks them and keeps the dialog open with a
// message when they do not hold.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>

#include "app/Schedule/ScheduleForm.h"
#include "core/MessageBox.h"

namespace Branwick::Wnd {

class CAdvancedSchedulingDlg : public QDialog {
    Q_OBJECT
public:
    // wStartHour/wStartMinute: the start time of the trigger being edited, which a repetition
    // "until a time" counts from.
    CAdvancedSchedulingDlg(const SAdvancedSchedule& advanced, WORD wStartHour, WORD wStartMinute,
                           IMessageBox& messageBox, QWidget* pParent = nullptr);

    // What the fields hold now.
    SAdvancedSchedule Values() const;

    QDateEdit* StartDate() const { return m_pStart; }
    QCheckBox* UntilBox() const { return m_pUntil; }
    QDateEdit* UntilDate() const { return m_pUntilDate; }
    QCheckBox* RepeatBox() const { return m_pRepeat; }
    QSpinBox* Every() const { return m_pEvery; }
    QComboBox* EveryUnit() const { return m_pUnit; }
    QRadioButton* TimeChoice() const { return m_pTimeChoice; }
    QTimeEdit* Time() const { return m_pTime; }
    QRadioButton* DurationChoice() const { return m_pDurationChoice; }
    QSpinBox* DurationHours() const { return m_pHours; }
    QSpinBox* DurationMinutes() const { return m_pMinutes; }
    QCheckBox* StopBox() const { return m_pStop; }

public slots:
    void accept() override;

private:
    void UpdateEnabled();

    WORD m_wStartHour;
    WORD m_wStartMinute;
    IMessageBox& m_messageBox;
    QDateEdit* m_pStart;
    QCheckBox* m_pUntil;
    QDateEdit* m_pUntilDate;
    QCheckBox* m_pRepeat;
    QSpinBox* m_pEvery;
    QComboBox* m_pUnit;
    QRadioButton* m_pTimeChoice;
    QTimeEdit* m_pTime;
    QRadioButton* m_pDurationChoice;
    QSpinBox* m_pHours;
    QSpinBox* m_pMinutes;
    QCheckBox* m_pStop;
};

// Dates between the page and the schedule's records.
QDate ToQDate(const SScheduleDate& date);
SScheduleDate FromQDate(const QDate& date);

}  // namespace Branwick::Wnd
