#pragma once

#include <QDateTime>

// Dates as the settings file stores them: days since 30 December 1899, local time, the fraction
// being the time of day.
double toOleDate(const QDateTime& dateTime);
QDateTime fromOleDate(double oleDate);
