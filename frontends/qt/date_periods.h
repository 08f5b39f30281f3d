#pragma once
// The periods a date edit's menu offers, worked out from a day: what a
// bookkeeper asks for at the month's close.
#include <QDate>
#include <QString>

#include <vector>

enum class DatePeriod { Today, PreviousMonth, CurrentMonth, PreviousQuarter, CurrentQuarter, PreviousYear, CurrentYear };

struct DateRange {
    QDate first;
    QDate last;
};

// The period's first and last day as seen on `today` (both `today` for Today).
DateRange PeriodOn(DatePeriod period, QDate today);
// Its name in the menu ("Mês anterior").
QString PeriodName(DatePeriod period);
// Every period, in the menu's order.
const std::vector<DatePeriod> &AllPeriods();
