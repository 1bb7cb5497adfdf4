// The scan parameters: counts, periods and times recomputed from the fields, when the recompute runs, and
// how it fails.
#include "ConsoleFixture.h"

#include <climits>

namespace {

class ScanParams : public consoletest::ScanConsole {
protected:
    QStringList fields1() const {
        return {window->txtScanStart1->text(),      window->txtScanEnd1->text(),
                window->txtScanPointRes1->text(),   window->txtScanPointCount1->text(),
                window->txtScanTime1->text(),       window->txtScanPointTime1->text(),
                window->txtScanPeriodCount1->text()};
    }
    QStringList fields2() const {
        return {window->txtScanStart2->text(),      window->txtScanEnd2->text(),
                window->txtScanPointRes2->text(),   window->txtScanPointCount2->text(),
                window->txtScanTime2->text(),       window->txtScanPointTime2->text(),
                window->txtScanPeriodCount2->text()};
    }
};

TEST_F(ScanParams, StartUpShowsSpectrographOnesRecomputedDefaultsAndTwosFormDefaults) {
    EXPECT_EQ(fields1(), (QStringList{"0", "500", "0.1", "5001", "50.01", "0.01", "1"}));
    EXPECT_EQ(window->panel(0).scan().PointCount, 5001);
    EXPECT_EQ(window->panel(0).scan().PointTime, 10);
    EXPECT_EQ(fields2(), (QStringList{"0", "500", "0.1", "100", "10", "0.1", "1"}));
    EXPECT_EQ(window->panel(1).scan().PointCount, 0);
}

TEST_F(ScanParams, WorkedValuesOfBothSpectrographsAreTheSame) {
    window->txtScanStart1->setText("400");
    window->txtScanPointRes1->setText("1");
    window->txtScanTime1->setText("10");
    commit(window->txtScanEnd1, "500.0");
    EXPECT_EQ(fields1(), (QStringList{"400", "500", "1", "101", "9.999", "0.099", "1"}));
    EXPECT_EQ(window->panel(0).scan().PointTime, 99);

    window->txtScanPointRes2->setText("1");
    commit(window->txtScanStart2, "400");
    EXPECT_EQ(fields2(), (QStringList{"400", "500", "1", "101", "9.999", "0.099", "1"}));
    EXPECT_EQ(window->panel(1).scan().PointTime, 99); // the period the box shows

    // Repeated recomputes of 101 points in 10 s stay put.
    commit(window->txtScanPointCount1, "7");
    commit(window->txtScanPointCount1, "8");
    EXPECT_EQ(window->panel(0).scan().PointTime, 99);
    EXPECT_EQ(window->txtScanTime1->text(), "9.999");
}

TEST_F(ScanParams, EachRecomputeRereadsTheCorrectedTimeSoThePeriodShrinksOneStepPerCommit) {
    window->txtScanStart1->setText("0");
    window->txtScanPointRes1->setText("1");
    window->txtScanTime1->setText("1");
    commit(window->txtScanEnd1, "2");
    EXPECT_EQ(window->panel(0).scan().PointTime, 333);
    EXPECT_EQ(window->txtScanTime1->text(), "0.999");
    EXPECT_EQ(window->txtScanPointTime1->text(), "0.333");

    // The typed count has no lasting effect, and each commit is one recompute, not one per written field.
    commit(window->txtScanPointCount1, "50");
    EXPECT_EQ(window->txtScanPointCount1->text(), "3");
    EXPECT_EQ(window->panel(0).scan().PointTime, 332);
    EXPECT_EQ(window->txtScanTime1->text(), "0.996");
    commit(window->txtScanPointCount1, "50");
    EXPECT_EQ(window->panel(0).scan().PointTime, 331);
    EXPECT_EQ(window->txtScanTime1->text(), "0.993");
}

TEST_F(ScanParams, OnlyAChangedTextCommitsOnEitherSpectrograph) {
    window->txtScanPeriodCount1->setText("abc"); // not bound: normalised by the next recompute only
    pressEnter(window->txtScanStart1);           // unchanged text: no commit
    window->txtScanStart1->clearFocus();
    EXPECT_EQ(window->txtScanPeriodCount1->text(), "abc");
    commit(window->txtScanPeriodCount1, "xyz");
    EXPECT_EQ(window->txtScanPeriodCount1->text(), "xyz");
    commit(window->txtScanStart1, "1");
    EXPECT_EQ(window->txtScanPeriodCount1->text(), "0");
    EXPECT_EQ(window->panel(0).scan().PeriodCount, 0);
    EXPECT_EQ(window->txtScanPointCount1->text(), "4991");

    // Both ends wait for their commit: a decimal typed key by key stays as typed, and so does an empty end.
    for (QLineEdit* end : {window->txtScanEnd1, window->txtScanEnd2}) {
        end->setFocus();
        end->selectAll();
        QTest::keyClicks(end, "510.5");
        EXPECT_EQ(end->text(), "510.5");
        end->clear();
        EXPECT_EQ(end->text(), "");
    }
    window->txtScanPointRes2->setText("1");
    window->txtScanTime2->setText("1");
    commit(window->txtScanEnd2, "2");
    EXPECT_EQ(window->txtScanPointCount2->text(), "3");
    EXPECT_EQ(window->panel(1).scan().PointTime, 333); // one recompute per commit
    EXPECT_EQ(window->txtScanTime2->text(), "0.999");
    commit(window->txtScanEnd2, "510.5");
    EXPECT_EQ(window->txtScanEnd2->text(), "510.5");
    EXPECT_EQ(window->txtScanPointCount2->text(), "512"); // 511.5 points, the tie to the even count
}

TEST_F(ScanParams, FloorNegativeCountsAndDownwardScans) {
    // Too short a time gives the floor of F / 100, and the time grows to count x 0.01 s.
    window->txtScanTime2->setText("1");
    commit(window->txtScanStart2, "0.0");
    EXPECT_EQ(window->panel(1).scan().PointTime, 10);
    EXPECT_EQ(window->txtScanPointTime2->text(), "0.01");
    EXPECT_EQ(window->txtScanTime2->text(), "50.01");

    window->txtScanEnd1->setText("0");
    commit(window->txtScanStart1, "500");
    EXPECT_EQ(window->panel(0).scan().PointCount, -4999);
    EXPECT_EQ(window->panel(0).scan().PointTime, 10);
    EXPECT_EQ(window->txtScanTime1->text(), "-49.99");

    commit(window->txtScanPointRes1, "-0.1");
    EXPECT_EQ(window->panel(0).scan().PointCount, 5001);
    EXPECT_EQ(window->txtScanPointCount1->text(), "5001");

    // Ties go to the even count: 0..2.5 at 1 is 3.5 points, 0..3.5 at 1 is 4.5.
    window->txtScanStart1->setText("0");
    window->txtScanPointRes1->setText("1");
    commit(window->txtScanEnd1, "2.5");
    EXPECT_EQ(window->panel(0).scan().PointCount, 4);
    commit(window->txtScanEnd1, "3.5");
    EXPECT_EQ(window->panel(0).scan().PointCount, 4);
}

TEST_F(ScanParams, CountsBeyondThirtyTwoBitsAreHeldAtTheRangeEnds) {
    window->txtScanStart1->setText("0");
    window->txtScanEnd1->setText("1e300");
    commit(window->txtScanPointRes1, "1e-300");
    EXPECT_EQ(window->panel(0).scan().PointCount, INT_MAX);
    EXPECT_EQ(window->txtScanPointCount1->text(), "2147483647");
    EXPECT_EQ(window->panel(0).scan().PointTime, 10);
    commit(window->txtScanPointRes1, "-1e-300");
    EXPECT_EQ(window->panel(0).scan().PointCount, INT_MIN);
    EXPECT_EQ(window->txtScanPointCount1->text(), "-2147483648");
}

// A failing recompute changes none of the scan's parameters: a scan that runs on them goes on as it was.
TEST_F(ScanParams, DivisionByZeroReachesTheErrorHandlerAndChangesNothing) {
    const TScanParameters before = window->panel(0).scan(); // from start-up
    window->txtScanPeriodCount1->setText("abc");
    window->txtScanPointCount1->setText("77");
    window->txtScanStart1->setText("100");
    commit(window->txtScanPointRes1, "0");
    EXPECT_EQ(errors, QStringList{"Floating point division by zero"});
    EXPECT_EQ(window->panel(0).scan().Start, before.Start);
    EXPECT_EQ(window->panel(0).scan().Resolution, before.Resolution);
    EXPECT_EQ(window->panel(0).scan().PointCount, before.PointCount);
    EXPECT_EQ(window->panel(0).scan().PointTime, before.PointTime);
    EXPECT_EQ(window->txtScanPeriodCount1->text(), "abc");
    EXPECT_EQ(window->txtScanPointRes1->text(), "0");
    EXPECT_EQ(window->txtScanPointCount1->text(), "77");

    errors.clear();
    commit(window->txtScanEnd1, "100"); // 0 / 0
    EXPECT_EQ(errors, QStringList{"Invalid floating point operation"});

    // A count of 0: the end one step below the start.
    errors.clear();
    window->txtScanPointRes1->setText("1");
    commit(window->txtScanEnd1, "99");
    EXPECT_EQ(errors, QStringList{"Floating point division by zero"});
    EXPECT_EQ(window->panel(0).scan().PointCount, before.PointCount);
    errors.clear();
    commit(window->txtScanTime1, "0");
    EXPECT_EQ(errors, QStringList{"Invalid floating point operation"});

    // The program goes on: a good value recomputes as usual.
    errors.clear();
    commit(window->txtScanEnd1, "102");
    EXPECT_EQ(window->txtScanPointCount1->text(), "3");
    EXPECT_EQ(window->txtScanPeriodCount1->text(), "0");
}

} // namespace
