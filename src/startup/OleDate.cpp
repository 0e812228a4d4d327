#include "OleDate.h"

#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86'400'000.0;
} // namespace

double toOleDate(const QDateTime& dateTime)
{
    const double days = double(kEpoch.daysTo(dateTime.date()));
    const double fraction = double(dateTime.time().msecsSinceStartOfDay()) / kMsPerDay;
    // Before the epoch the whole part counts back while the fraction still counts forward.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime fromOleDate(double oleDate)
{
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 3'000'000.0)
        return {};
    const double whole = std::trunc(oleDate);
    const double fraction = std::fabs(oleDate - whole);
    auto days = qint64(whole);
    auto ms = qint64(std::llround(fraction * kMsPerDay));
    if (ms >= qint64(kMsPerDay)) {
        ++days;
        ms = 0;
    }
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(int(ms)));
}
