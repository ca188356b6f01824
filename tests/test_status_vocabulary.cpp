// The relay's status bits and trip causes as stable names, and its clock's
// offset from the PC's: what the exporter exports and its archive keeps.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <ctime>
#include <optional>
#include <set>

#include "exchanges/ClockOffset.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"
#include "exchanges/RelayClock.h"
#include "exchanges/StatusFlags.h"
#include "exchanges/TripCause.h"

// Every status lamp has a flag of its own, and a trip's cause is one of the
// flags' names.
TEST(StatusVocabulary, EveryLampHasAFlagAndATripItsCause)
{
    std::set<QString> flags;
    for (const StatusFlag& f : StatusFlags()) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z][a-z0-9_]*$")).match(f.name).hasMatch()) << f.name.toStdString();
        flags.insert(f.name);
    }
    EXPECT_EQ(flags.size(), EntriesIn(kCurrentParamsBlock, {RegisterKind::StatusBit}).size());
    // Overload with the motor off, two protections, the last protection bit, a prolonged start, states only.
    const std::vector<std::pair<uint16_t, const char*>> trips{{0x0208, "overload"}, {0x8201, "instantaneous_overcurrent"},
        {0x0300, "discrete_input"}, {0x4200, "prolonged_start"}, {0x0600, "other"}};
    const std::vector<QString> causes = TripCauses();
    for (const auto& [status, cause] : trips) {
        SCOPED_TRACE(status);
        EXPECT_EQ(TripCause(status), QString::fromLatin1(cause));
        EXPECT_EQ(RecordTripCause({12, 31, 23, 59, 58, status, 131}), QString::fromLatin1(cause));
        EXPECT_EQ(std::count(causes.begin(), causes.end(), TripCause(status)), 1);
    }
    EXPECT_EQ(RecordTripCause({12, 31}), QStringLiteral("other"));
}

// The relay's clock against the PC's local time, Berlin's summer time
// included: the nearest year counts, and each moment is taken at its own
// offset from UTC.
TEST(StatusVocabulary, ClockOffsetTakesTheNearestYearAndItsOwnZoneOffset)
{
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QTimeZone berlin("Europe/Berlin");
    struct Case {
        QDateTime now;
        RelayClockFields relay;   // month, day, hour, minute, second
        std::optional<qint64> offsetMs;
    };
    const auto at = [&](int y, int mo, int d, int h, int mi, int s) { return QDateTime(QDate(y, mo, d), QTime(h, mi, s), berlin); };
    const std::vector<Case> cases{
        {at(2026, 6, 15, 12, 0, 0), {6, 15, 12, 0, 30}, 30000},
        {at(2026, 12, 31, 23, 59, 50), {1, 1, 0, 0, 10}, 20000},        // the relay in the next year
        {at(2027, 1, 1, 0, 0, 5), {12, 31, 23, 59, 55}, -10000},        // the relay in the last year
        {at(2026, 3, 29, 3, 0, 10), {3, 29, 1, 59, 50}, -20000},        // before the clocks went forward
        {at(2026, 10, 25, 12, 0, 0), {10, 24, 12, 0, 0}, -25 * 3600 * 1000LL},   // across their going back
        {at(2028, 2, 29, 12, 0, 0), {2, 29, 12, 0, 1}, 1000},
        {at(2026, 6, 15, 12, 0, 0), {13, 1, 0, 0, 0}, std::nullopt},
        {at(2026, 6, 15, 12, 0, 0), {6, 15, 24, 0, 0}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClockOffsetMs(c.relay, c.now.toMSecsSinceEpoch()), c.offsetMs) << c.now.toString(Qt::ISODate).toStdString();
    if (savedTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", savedTz);
    tzset();
}
