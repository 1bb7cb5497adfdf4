// The scan parameters: counts, periods and times recomputed from the fields, when the recompute runs, and
// how it fails.
#include "ScanFixture.h"

#include <climits>

using scantest::commit;
using scantest::pressEnter;

namespace {

class ScanParams : public scantest::ScanFixture {
protected:
    QStringList fields1() const {
        return {frm->txtScanStart1->text(),      frm->txtScanEnd1->text(),  frm->txtScanPointRes1->text(),
                frm->txtScanPointCount1->text(), frm->txtScanTime1->text(), frm->txtScanPointTime1->text(),
                frm->txtScanPeriodCount1->text()};
    }
    QStringList fields2() const {
        return {frm->txtScanStart2->text(),      frm->txtScanEnd2->text(),  frm->txtScanPointRes2->text(),
                frm->txtScanPointCount2->text(), frm->txtScanTime2->text(), frm->txtScanPointTime2->text(),
                frm->txtScanPeriodCount2->text()};
    }
};

TEST_F(ScanParams, StartUpShowsSpectrographOnesRecomputedDefaultsAndTwosFormDefaults) {
    EXPECT_EQ(fields1(), (QStringList{"0", "500", "0.1", "5001", "50.01", "0.01", "1"}));
    EXPECT_EQ(frm->panel(0).scan().PointCount, 5001);
    EXPECT_EQ(frm->panel(0).scan().PointTime, 10);
    EXPECT_EQ(fields2(), (QStringList{"0", "500", "0.1", "100", "10", "0.1", "1"}));
    EXPECT_EQ(frm->panel(1).scan().PointCount, 0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ScanParams, WorkedValuesOfBothSpectrographsAreTheSame) {
    frm->txtScanStart1->setText("400");
    frm->txtScanPointRes1->setText("1");
    frm->txtScanTime1->setText("10");
    commit(frm->txtScanEnd1, "500.0");
    EXPECT_EQ(fields1(), (QStringList{"400", "500", "1", "101", "9.999", "0.099", "1"}));
    EXPECT_EQ(frm->panel(0).scan().PointTime, 99);

    frm->txtScanPointRes2->setText("1");
    commit(frm->txtScanStart2, "400");
    EXPECT_EQ(fields2(), (QStringList{"400", "500", "1", "101", "9.999", "0.099", "1"}));
    EXPECT_EQ(frm->panel(1).scan().PointTime, 99); // the period the box shows

    // Repeated recomputes of 101 points in 10 s stay put.
    commit(frm->txtScanPointCount1, "7");
    commit(frm->txtScanPointCount1, "8");
    EXPECT_EQ(frm->panel(0).scan().PointTime, 99);
    EXPECT_EQ(frm->txtScanTime1->text(), "9.999");
}

TEST_F(ScanParams, EachRecomputeRereadsTheCorrectedTimeSoThePeriodShrinksOneStepPerCommit) {
    frm->txtScanStart1->setText("0");
    frm->txtScanPointRes1->setText("1");
    frm->txtScanTime1->setText("1");
    commit(frm->txtScanEnd1, "2");
    EXPECT_EQ(frm->panel(0).scan().PointTime, 333);
    EXPECT_EQ(frm->txtScanTime1->text(), "0.999");
    EXPECT_EQ(frm->txtScanPointTime1->text(), "0.333");

    // The typed count has no lasting effect, and each commit is one recompute, not one per written field.
    commit(frm->txtScanPointCount1, "50");
    EXPECT_EQ(frm->txtScanPointCount1->text(), "3");
    EXPECT_EQ(frm->panel(0).scan().PointTime, 332);
    EXPECT_EQ(frm->txtScanTime1->text(), "0.996");
    commit(frm->txtScanPointCount1, "50");
    EXPECT_EQ(frm->panel(0).scan().PointTime, 331);
    EXPECT_EQ(frm->txtScanTime1->text(), "0.993");
}

TEST_F(ScanParams, OnlyAChangedTextCommitsOnEitherSpectrograph) {
    frm->txtScanPeriodCount1->setText("abc"); // not bound: normalised by the next recompute only
    pressEnter(frm->txtScanStart1);           // unchanged text: no commit
    frm->txtScanStart1->clearFocus();
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "abc");
    commit(frm->txtScanPeriodCount1, "xyz");
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "xyz");
    commit(frm->txtScanStart1, "1");
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "0");
    EXPECT_EQ(frm->panel(0).scan().PeriodCount, 0);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "4991");

    // Both ends wait for their commit: a decimal typed key by key stays as typed, and so does an empty end.
    for (QLineEdit* end : {frm->txtScanEnd1, frm->txtScanEnd2}) {
        end->setFocus();
        end->selectAll();
        QTest::keyClicks(end, "510.5");
        EXPECT_EQ(end->text(), "510.5");
        end->clear();
        EXPECT_EQ(end->text(), "");
    }
    frm->txtScanPointRes2->setText("1");
    frm->txtScanTime2->setText("1");
    commit(frm->txtScanEnd2, "2");
    EXPECT_EQ(frm->txtScanPointCount2->text(), "3");
    EXPECT_EQ(frm->panel(1).scan().PointTime, 333); // one recompute per commit
    EXPECT_EQ(frm->txtScanTime2->text(), "0.999");
    commit(frm->txtScanEnd2, "510.5");
    EXPECT_EQ(frm->txtScanEnd2->text(), "510.5");
    EXPECT_EQ(frm->txtScanPointCount2->text(), "512"); // 511.5 points, the tie to the even count
}

TEST_F(ScanParams, FloorNegativeCountsAndDownwardScans) {
    // Too short a time gives the floor of F / 100, and the time grows to count x 0.01 s.
    frm->txtScanTime2->setText("1");
    commit(frm->txtScanStart2, "0.0");
    EXPECT_EQ(frm->panel(1).scan().PointTime, 10);
    EXPECT_EQ(frm->txtScanPointTime2->text(), "0.01");
    EXPECT_EQ(frm->txtScanTime2->text(), "50.01");

    frm->txtScanEnd1->setText("0");
    commit(frm->txtScanStart1, "500");
    EXPECT_EQ(frm->panel(0).scan().PointCount, -4999);
    EXPECT_EQ(frm->panel(0).scan().PointTime, 10);
    EXPECT_EQ(frm->txtScanTime1->text(), "-49.99");

    commit(frm->txtScanPointRes1, "-0.1");
    EXPECT_EQ(frm->panel(0).scan().PointCount, 5001);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "5001");

    // Ties go to the even count: 0..2.5 at 1 is 3.5 points, 0..3.5 at 1 is 4.5.
    frm->txtScanStart1->setText("0");
    frm->txtScanPointRes1->setText("1");
    commit(frm->txtScanEnd1, "2.5");
    EXPECT_EQ(frm->panel(0).scan().PointCount, 4);
    commit(frm->txtScanEnd1, "3.5");
    EXPECT_EQ(frm->panel(0).scan().PointCount, 4);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ScanParams, CountsBeyondThirtyTwoBitsAreHeldAtTheRangeEnds) {
    frm->txtScanStart1->setText("0");
    frm->txtScanEnd1->setText("1e300");
    commit(frm->txtScanPointRes1, "1e-300");
    EXPECT_EQ(frm->panel(0).scan().PointCount, INT_MAX);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "2147483647");
    EXPECT_EQ(frm->panel(0).scan().PointTime, 10);
    commit(frm->txtScanPointRes1, "-1e-300");
    EXPECT_EQ(frm->panel(0).scan().PointCount, INT_MIN);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "-2147483648");
    EXPECT_TRUE(errors.isEmpty());
}

// A failing recompute changes none of the scan's parameters: a scan that runs on them goes on as it was.
TEST_F(ScanParams, DivisionByZeroReachesTheErrorHandlerAndChangesNothing) {
    const TScanParameters before = frm->panel(0).scan(); // from start-up
    frm->txtScanPeriodCount1->setText("abc");
    frm->txtScanPointCount1->setText("77");
    frm->txtScanStart1->setText("100");
    commit(frm->txtScanPointRes1, "0");
    EXPECT_EQ(errors, QStringList{"Floating point division by zero"});
    EXPECT_EQ(frm->panel(0).scan().Start, before.Start);
    EXPECT_EQ(frm->panel(0).scan().Resolution, before.Resolution);
    EXPECT_EQ(frm->panel(0).scan().PointCount, before.PointCount);
    EXPECT_EQ(frm->panel(0).scan().PointTime, before.PointTime);
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "abc");
    EXPECT_EQ(frm->txtScanPointRes1->text(), "0");
    EXPECT_EQ(frm->txtScanPointCount1->text(), "77");

    errors.clear();
    commit(frm->txtScanEnd1, "100"); // 0 / 0
    EXPECT_EQ(errors, QStringList{"Invalid floating point operation"});

    // A count of 0: the end one step below the start.
    errors.clear();
    frm->txtScanPointRes1->setText("1");
    commit(frm->txtScanEnd1, "99");
    EXPECT_EQ(errors, QStringList{"Floating point division by zero"});
    EXPECT_EQ(frm->panel(0).scan().PointCount, before.PointCount);
    errors.clear();
    commit(frm->txtScanTime1, "0");
    EXPECT_EQ(errors, QStringList{"Invalid floating point operation"});

    // The program goes on: a good value recomputes as usual.
    errors.clear();
    commit(frm->txtScanEnd1, "102");
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(frm->txtScanPointCount1->text(), "3");
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "0");
}

} // namespace
