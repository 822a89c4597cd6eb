// The schedule page and its advanced dialog on the demo prefix, through the real settings file
// and the real task folder with its systemd units: what each input builds, the limits, the five
// messages that refuse an action, the list's rules and the live preview.
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "ui/SchedulePage/ScheduleDlg.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

void ChooseKind(CScheduleDlg& page, EScheduleKind eKind) {
    page.Kind()->setCurrentIndex(static_cast<int>(eKind));
    emit page.Kind()->activated(static_cast<int>(eKind));
}

void OnlyWeekDay(CScheduleDlg& page, int nDay) {
    for (int i = 0; i < 7; ++i) {
        page.WeekDay(i)->setChecked(i == nDay);
    }
}

void OnlyMonths(CScheduleDlg& page, std::initializer_list<int> months) {
    for (int i = 0; i < 12; ++i) {
        page.Month(i)->setChecked(std::find(months.begin(), months.end(), i) != months.end());
    }
}

// The text of the last box shown, or empty.
std::wstring LastBox(CorvaneTest::CDemoCore& core) {
    const auto shown = core.Box().GetShown();
    return shown.empty() ? std::wstring() : shown.back().strText;
}

const TASK_TRIGGER& Stored(CorvaneTest::CDemoCore& core, std::size_t nIndex) {
    return core.Site().m_settings.GetTriggers().at(nIndex);
}

}  // namespace

class SchedulePageTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;

private slots:
    void EachKindShowsItsPaneTitleAndStartTime() {
        CorvaneTest::CDemoCore core;
        CScheduleDlg page(core.Site());
        QCOMPARE(page.Kind()->count(), kScheduleKinds);
        QCOMPARE(page.Title(), QString("Schedule Task Daily"));
        for (int i = kScheduleKinds - 1; i >= 0; --i) {
            const auto eKind = static_cast<EScheduleKind>(i);
            ChooseKind(page, eKind);
            QCOMPARE(page.Title(), QString::fromWCharArray(ScheduleKindTitle(eKind)));
            QCOMPARE(page.StartTime()->isEnabled(), i <= int(EScheduleKind::Once));
        }
        QCOMPARE(page.Kind()->itemText(4), QString("At System Startup"));
    }

    void MonthsLimitTheDayAndSundayIsBitOne() {
        CorvaneTest::CDemoCore core;
        CScheduleDlg page(core.Site());
        ChooseKind(page, EScheduleKind::Monthly);
        OnlyMonths(page, {1});
        QCOMPARE(page.MonthDay()->maximum(), 29);
        page.MonthDay()->setValue(31);
        QCOMPARE(page.MonthDay()->value(), 29);
        page.ApplyButton()->click();
        QCOMPARE(Stored(core, 0).TriggerType, TASK_TIME_TRIGGER_MONTHLYDATE);
        QCOMPARE(Stored(core, 0).Type.MonthlyDate.rgfDays, DWORD(1) << 28);
        QCOMPARE(Stored(core, 0).Type.MonthlyDate.rgfMonths, WORD(0x2));
        OnlyMonths(page, {1, 3});
        QCOMPARE(page.MonthDay()->maximum(), 30);
        OnlyMonths(page, {1, 6});
        QCOMPARE(page.MonthDay()->maximum(), 31);

        ChooseKind(page, EScheduleKind::Weekly);
        OnlyWeekDay(page, 6);
        page.StartTime()->setTime(QTime(7, 45));
        page.ApplyButton()->click();
        QCOMPARE(core.Site().m_settings.GetTriggers().size(), std::size_t(1));  // changed, not added
        QCOMPARE(Stored(core, 0).TriggerType, TASK_TIME_TRIGGER_WEEKLY);
        QCOMPARE(Stored(core, 0).Type.Weekly.rgfDaysOfTheWeek, WORD(1));
        QCOMPARE(Stored(core, 0).wStartHour, WORD(7));
        QCOMPARE(Stored(core, 0).wStartMinute, WORD(45));

        // A page made afresh shows what is stored.
        CScheduleDlg again(core.Site());
        QCOMPARE(again.Kind()->currentIndex(), int(EScheduleKind::Weekly));
        QVERIFY(again.WeekDay(6)->isChecked());
        QVERIFY(!again.WeekDay(0)->isChecked());
        QCOMPARE(again.StartTime()->time(), QTime(7, 45));
    }

    void EveryValidationMessageRefusesTheAction() {
        CorvaneTest::CDemoCore core;
        CScheduleDlg page(core.Site());
        ChooseKind(page, EScheduleKind::Weekly);
        OnlyWeekDay(page, -1);
        page.ApplyButton()->click();
        QCOMPARE(LastBox(core), std::wstring(L"You must select at least one day."));
        page.MultipleBox()->setChecked(true);
        page.NewButton()->click();
        QCOMPARE(LastBox(core), std::wstring(L"You must select at least one day."));
        ChooseKind(page, EScheduleKind::Monthly);
        OnlyMonths(page, {});
        page.ApplyButton()->click();
        QCOMPARE(LastBox(core), std::wstring(L"You must select at least one month"));
        QVERIFY(core.Site().m_settings.GetTriggers().empty());

        ChooseKind(page, EScheduleKind::Daily);
        page.StartTime()->setTime(QTime(22, 0));
        page.OpenAdvanced();
        CAdvancedSchedulingDlg* pDialog = page.AdvancedDialog();
        QVERIFY(pDialog != nullptr);
        pDialog->StartDate()->setDate(QDate(2030, 5, 10));
        pDialog->UntilBox()->setChecked(true);
        pDialog->UntilDate()->setDate(QDate(2030, 5, 9));
        pDialog->accept();
        QCOMPARE(LastBox(core), std::wstring(L"The end date must be later then the start date."));
        QVERIFY(pDialog->isVisible());
        pDialog->UntilDate()->setDate(QDate(2030, 5, 10));
        pDialog->RepeatBox()->setChecked(true);
        pDialog->Every()->setValue(0);
        pDialog->accept();
        QCOMPARE(LastBox(core), std::wstring(L"The repetition interval cannot be less than 1."));
        pDialog->Every()->setValue(2);
        pDialog->EveryUnit()->setCurrentIndex(1);  // hours
        pDialog->TimeChoice()->setChecked(true);
        pDialog->Time()->setTime(QTime(23, 30));   // 90 minutes after the start
        pDialog->accept();
        QCOMPARE(LastBox(core), std::wstring(L"The duration must be greater than repetition interval."));
        pDialog->Time()->setTime(QTime(1, 0));     // three hours, past midnight
        pDialog->StopBox()->setChecked(true);
        const std::size_t nBoxes = core.Box().GetShown().size();
        pDialog->accept();
        QTRY_VERIFY(page.AdvancedDialog() == nullptr);
        QCOMPARE(core.Box().GetShown().size(), nBoxes);

        page.ApplyButton()->click();
        const TASK_TRIGGER& trigger = Stored(core, 0);
        QCOMPARE(trigger.wBeginYear, WORD(2030));
        QCOMPARE(trigger.wEndDay, WORD(10));
        QCOMPARE(trigger.MinutesInterval, DWORD(120));
        QCOMPARE(trigger.MinutesDuration, DWORD(180));
        QCOMPARE(trigger.rgFlags, DWORD(TASK_TRIGGER_FLAG_HAS_END_DATE | TASK_TRIGGER_FLAG_KILL_AT_DURATION_END));
    }

    void NewStartsAfreshAndTheHundredthTriggerDisablesIt() {
        CorvaneTest::CDemoCore core;
        CScheduleDlg page(core.Site());
        // Nothing stored: one entry, the text line shown, the list hidden.
        QCOMPARE(page.Triggers()->count(), 1);
        QCOMPARE(page.Triggers()->itemText(0), QString("Task not scheduled"));
        QVERIFY(!page.MultipleBox()->isChecked());
        QVERIFY(page.MultipleBox()->isEnabled());
        QVERIFY(page.Triggers()->isHidden());
        QVERIFY(page.NewButton()->isHidden());

        page.OpenAdvanced();
        page.AdvancedDialog()->UntilBox()->setChecked(true);
        page.AdvancedDialog()->UntilDate()->setDate(QDate::currentDate().addDays(30));
        page.AdvancedDialog()->RepeatBox()->setChecked(true);
        page.AdvancedDialog()->Every()->setValue(10);
        page.AdvancedDialog()->DurationHours()->setValue(1);
        page.AdvancedDialog()->accept();
        QTRY_VERIFY(page.AdvancedDialog() == nullptr);
        page.ApplyButton()->click();
        QCOMPARE(Stored(core, 0).MinutesInterval, DWORD(10));
        QVERIFY(!page.MultipleBox()->isChecked());
        QVERIFY(page.MultipleBox()->isEnabled());
        QVERIFY(page.TextLine()->text().startsWith("At 09:00 every day"));

        page.MultipleBox()->setChecked(true);
        QVERIFY(page.Triggers()->isVisibleTo(&page));
        QVERIFY(page.TextLine()->isHidden());
        page.NewButton()->click();
        const TASK_TRIGGER& fresh = Stored(core, 1);
        const QDate today = QDate::currentDate();
        QCOMPARE(QDate(fresh.wBeginYear, fresh.wBeginMonth, fresh.wBeginDay), today);
        QCOMPARE(fresh.rgFlags, DWORD(0));
        QCOMPARE(fresh.MinutesInterval, DWORD(0));
        QCOMPARE(page.Triggers()->count(), 2);
        QCOMPARE(page.Triggers()->currentIndex(), 1);
        QVERIFY(page.MultipleBox()->isChecked());
        QVERIFY(!page.MultipleBox()->isEnabled());

        while (core.Site().m_settings.GetTriggers().size() < kMaxTriggers) {
            QVERIFY(page.NewButton()->isEnabled());
            page.NewButton()->click();
        }
        QVERIFY(!page.NewButton()->isEnabled());
        QCOMPARE(page.Triggers()->count(), int(kMaxTriggers));
        page.DeleteButton()->click();
        QVERIFY(page.NewButton()->isEnabled());
        QCOMPARE(page.Triggers()->currentIndex(), int(kMaxTriggers) - 2);

        // Deleting every trigger brings back the single entry.
        while (!core.Site().m_settings.GetTriggers().empty()) {
            page.DeleteButton()->click();
        }
        QCOMPARE(page.Triggers()->count(), 1);
        QCOMPARE(page.Triggers()->itemText(0), QString("Task not scheduled"));
        QVERIFY(!page.DeleteButton()->isEnabled());
        QVERIFY(page.MultipleBox()->isEnabled());
    }

    void ThePreviewDescribesTheInputsWithoutStoringThem() {
        CorvaneTest::CDemoCore core;
        QWidget window;
        auto* pPage = new CScheduleDlg(core.Site(), &window);
        window.show();
        ChooseKind(*pPage, EScheduleKind::Weekly);
        OnlyWeekDay(*pPage, 5);
        pPage->StartTime()->setTime(QTime(10, 0));
        QTRY_VERIFY(pPage->TextLine()->text().startsWith("At 10:00 every Saturday, starting "));
        OnlyWeekDay(*pPage, -1);
        QTRY_COMPARE(pPage->TextLine()->text(), QString("You must select at least one day."));
        // A schedule that the session's timers cannot express says so beside it.
        ChooseKind(*pPage, EScheduleKind::WhenIdle);
        pPage->IdleMinutes()->setValue(25);
        QTRY_VERIFY(pPage->TextLine()->text().contains("(runs only while Corvane is running)"));
        QVERIFY(core.Site().m_settings.GetTriggers().empty());
        // The idle time belongs to the task and is stored by Apply.
        pPage->ApplyButton()->click();
        WORD wIdle = 0;
        WORD wDeadline = 0;
        core.Site().m_settings.GetIdleWait(wIdle, wDeadline);
        QCOMPARE(wIdle, WORD(25));
        QVERIFY(pPage->TextLine()->text().startsWith("When the computer has been idle for 25 minutes"));
    }

    void TheUnitsOfAWeeklyAndAMonthlyTriggerPassSystemdsCheck() {
        CorvaneTest::CDemoCore core;
        CScheduleDlg page(core.Site());
        ChooseKind(page, EScheduleKind::Weekly);
        OnlyWeekDay(page, 2);
        page.ApplyButton()->click();
        page.MultipleBox()->setChecked(true);
        ChooseKind(page, EScheduleKind::Monthly);
        page.WeekDayChoice()->setChecked(true);
        page.WhichWeek()->setCurrentIndex(4);
        page.DayOfWeek()->setCurrentIndex(4);
        OnlyMonths(page, {0, 6});
        page.NewButton()->click();
        page.MonthDayChoice()->setChecked(true);
        page.MonthDay()->setValue(31);
        page.ApplyButton()->click();  // changes the selected, second trigger
        QCOMPARE(core.Site().m_settings.GetTriggers().size(), std::size_t(2));
        QCOMPARE(Stored(core, 1).TriggerType, TASK_TIME_TRIGGER_MONTHLYDATE);

        const QString strUnits = m_home.Path() + "/.config/systemd/user/";
        QFile timer(strUnits + "corvane-scan.timer");
        QVERIFY(timer.open(QIODevice::ReadOnly));
        QVERIFY(timer.readAll().count("OnCalendar=") >= 2);
        QProcess verify;
        verify.start("systemd-analyze", {"verify", "--user", strUnits + "corvane-scan.timer",
                                         strUnits + "corvane-scan.service"});
        QVERIFY(verify.waitForFinished(60000));
        QVERIFY2(verify.exitCode() == 0, verify.readAllStandardError().constData());
    }
};

QTEST_MAIN(SchedulePageTest)
#include "schedule_page_test.moc"
