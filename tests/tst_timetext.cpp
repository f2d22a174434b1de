#include "state/TimeText.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace morvane;

class TimeTextTest : public QObject {
    Q_OBJECT
private slots:
    void formatHms_data();
    void formatHms();
    void roundSeconds_data();
    void roundSeconds();
    void roundSecondsRefuses_data();
    void roundSecondsRefuses();
};

void TimeTextTest::formatHms_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << " 0 : 0 : 0";
    QTest::newRow("last second of a minute") << 59 << " 0 : 0 : 59";
    QTest::newRow("one minute") << 60 << " 0 : 1 : 0";
    QTest::newRow("last second of an hour") << 3599 << " 0 : 59 : 59";
    QTest::newRow("mixed") << 3725 << " 1 : 2 : 5";
    QTest::newRow("just under ten hours") << 35999 << " 9 : 59 : 59";
    QTest::newRow("ten hours") << 36000 << " 10 : 0 : 0";
    QTest::newRow("largest count") << std::numeric_limits<std::int32_t>::max() << " 596523 : 14 : 7";
    QTest::newRow("negative seconds") << -5 << " 0 : 0 :-5";
    QTest::newRow("negative minutes") << -65 << " 0 :-1 :-5";
}

void TimeTextTest::formatHms()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);
    QCOMPARE(FormatHms(seconds), text);
    QVERIFY(FormatHms(0) != ResetText);
}

void TimeTextTest::roundSeconds_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("whole");
    QTest::newRow("2.5 to even") << 2.5 << 2;
    QTest::newRow("3.5 to even") << 3.5 << 4;
    QTest::newRow("10.5 to even") << 10.5 << 10;
    QTest::newRow("11.5 to even") << 11.5 << 12;
    QTest::newRow("99.5 to even") << 99.5 << 100;
    QTest::newRow("below half") << 7.49 << 7;
    QTest::newRow("above half") << 7.51 << 8;
    QTest::newRow("negative tie") << -2.5 << -2;
    QTest::newRow("largest") << 2147483646.6 << std::numeric_limits<std::int32_t>::max();
    QTest::newRow("smallest") << -2147483648.4 << std::numeric_limits<std::int32_t>::min();
}

void TimeTextTest::roundSeconds()
{
    QFETCH(double, seconds);
    QFETCH(int, whole);
    QCOMPARE(RoundSeconds(seconds), whole);
}

void TimeTextTest::roundSecondsRefuses_data()
{
    QTest::addColumn<double>("seconds");
    QTest::newRow("NaN") << std::nan("");
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("tie above the largest") << 2147483647.5;
    QTest::newRow("far too large") << 1e12;
    QTest::newRow("too small") << -2147483648.6;
}

void TimeTextTest::roundSecondsRefuses()
{
    QFETCH(double, seconds);
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, RoundSeconds(seconds));
}

QTEST_APPLESS_MAIN(TimeTextTest)
#include "tst_timetext.moc"
