#include "date_periods.h"

namespace {
QDate MonthStart(QDate d) { return QDate(d.year(), d.month(), 1); }
QDate QuarterStart(QDate d) { return QDate(d.year(), (d.month() - 1) / 3 * 3 + 1, 1); }
} // namespace

DateRange PeriodOn(DatePeriod period, QDate today)
{
    switch (period) {
    case DatePeriod::Today: return {today, today};
    case DatePeriod::CurrentMonth: return {MonthStart(today), MonthStart(today).addMonths(1).addDays(-1)};
    case DatePeriod::PreviousMonth: {
        const QDate first = MonthStart(today).addMonths(-1);
        return {first, MonthStart(today).addDays(-1)};
    }
    case DatePeriod::CurrentQuarter: return {QuarterStart(today), QuarterStart(today).addMonths(3).addDays(-1)};
    case DatePeriod::PreviousQuarter: {
        const QDate first = QuarterStart(today).addMonths(-3);
        return {first, QuarterStart(today).addDays(-1)};
    }
    case DatePeriod::CurrentYear: return {QDate(today.year(), 1, 1), QDate(today.year(), 12, 31)};
    case DatePeriod::PreviousYear: return {QDate(today.year() - 1, 1, 1), QDate(today.year() - 1, 12, 31)};
    }
    return {today, today};
}

QString PeriodName(DatePeriod period)
{
    switch (period) {
    case DatePeriod::Today: return QStringLiteral("Hoje");
    case DatePeriod::PreviousMonth: return QStringLiteral("Mês anterior");
    case DatePeriod::CurrentMonth: return QStringLiteral("Este mês");
    case DatePeriod::PreviousQuarter: return QStringLiteral("Trimestre anterior");
    case DatePeriod::CurrentQuarter: return QStringLiteral("Este trimestre");
    case DatePeriod::PreviousYear: return QStringLiteral("Ano anterior");
    case DatePeriod::CurrentYear: return QStringLiteral("Este ano");
    }
    return {};
}

const std::vector<DatePeriod> &AllPeriods()
{
    static const std::vector<DatePeriod> all{DatePeriod::Today,           DatePeriod::PreviousMonth,
                                             DatePeriod::CurrentMonth,    DatePeriod::PreviousQuarter,
                                             DatePeriod::CurrentQuarter,  DatePeriod::PreviousYear,
                                             DatePeriod::CurrentYear};
    return all;
}
