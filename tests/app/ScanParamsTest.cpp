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
    EXPECT_EQ(frm->FScanPointCount1, 5001);
    EXPECT_EQ(frm->FScanPointTime1, 10);
    EXPECT_EQ(fields2(), (QStringList{"0", "500", "0.1", "100", "10", "0.1", "1"}));
    EXPECT_EQ(frm->FScanPointCount2, 0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ScanParams, WorkedValuesOfBothSpectrographsWithTheirTimeFactors) {
    frm->txtScanStart1->setText("400");
    frm->txtScanPointRes1->setText("1");
    frm->txtScanTime1->setText("10");
    commit(frm->txtScanEnd1, "500.0");
    EXPECT_EQ(fields1(), (QStringList{"400", "500", "1", "101", "9.999", "0.099", "1"}));
    EXPECT_EQ(frm->FScanPointTime1, 99);

    frm->txtScanPointRes2->setText("1");
    commit(frm->txtScanStart2, "400");
    EXPECT_EQ(fields2(), (QStringList{"400", "500", "1", "101", "9.999", "0.099", "1"}));
    EXPECT_EQ(frm->FScanPointTime2, 198);

    // Repeated recomputes of 101 points in 10 s stay put.
    commit(frm->txtScanPointCount1, "7");
    commit(frm->txtScanPointCount1, "8");
    EXPECT_EQ(frm->FScanPointTime1, 99);
    EXPECT_EQ(frm->txtScanTime1->text(), "9.999");
}

TEST_F(ScanParams, EachRecomputeRereadsTheCorrectedTimeSoThePeriodShrinksOneStepPerCommit) {
    frm->txtScanStart1->setText("0");
    frm->txtScanPointRes1->setText("1");
    frm->txtScanTime1->setText("1");
    commit(frm->txtScanEnd1, "2");
    EXPECT_EQ(frm->FScanPointTime1, 333);
    EXPECT_EQ(frm->txtScanTime1->text(), "0.999");
    EXPECT_EQ(frm->txtScanPointTime1->text(), "0.333");

    // The typed count has no lasting effect, and each commit is one recompute, not one per written field.
    commit(frm->txtScanPointCount1, "50");
    EXPECT_EQ(frm->txtScanPointCount1->text(), "3");
    EXPECT_EQ(frm->FScanPointTime1, 332);
    EXPECT_EQ(frm->txtScanTime1->text(), "0.996");
    commit(frm->txtScanPointCount1, "50");
    EXPECT_EQ(frm->FScanPointTime1, 331);
    EXPECT_EQ(frm->txtScanTime1->text(), "0.993");
}

TEST_F(ScanParams, OnlyAChangedTextCommitsAndSpectrographTwosEndRecomputesAtEveryChange) {
    frm->txtScanPeriodCount1->setText("abc"); // not bound: normalised by the next recompute only
    pressEnter(frm->txtScanStart1);           // unchanged text: no commit
    frm->txtScanStart1->clearFocus();
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "abc");
    commit(frm->txtScanPeriodCount1, "xyz");
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "xyz");
    commit(frm->txtScanStart1, "1");
    EXPECT_EQ(frm->txtScanPeriodCount1->text(), "0");
    EXPECT_EQ(frm->FScanPeriodCount1, 0);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "4991");

    // Spectrograph 1's end waits for its commit; spectrograph 2's is recomputed (and rewritten) at once.
    frm->txtScanEnd1->setText("");
    EXPECT_EQ(frm->txtScanEnd1->text(), "");
    frm->txtScanPointRes2->setText("1");
    frm->txtScanTime2->setText("1");
    frm->txtScanEnd2->setText("");
    EXPECT_EQ(frm->txtScanEnd2->text(), "0");
    EXPECT_EQ(frm->txtScanPointCount2->text(), "1");
    frm->txtScanEnd2->setText("2");
    EXPECT_EQ(frm->txtScanPointCount2->text(), "3");
    EXPECT_EQ(frm->FScanPointTime2, 666); // one recompute per change: 1 s over 3 points at 2000
    EXPECT_EQ(frm->txtScanTime2->text(), "0.999");
}

TEST_F(ScanParams, FloorNegativeCountsAndDownwardScans) {
    // Too short a time gives the floor of F / 100, and the time grows to count x 0.01 s.
    frm->txtScanTime2->setText("1");
    commit(frm->txtScanStart2, "0.0");
    EXPECT_EQ(frm->FScanPointTime2, 20);
    EXPECT_EQ(frm->txtScanPointTime2->text(), "0.01");
    EXPECT_EQ(frm->txtScanTime2->text(), "50.01");

    frm->txtScanEnd1->setText("0");
    commit(frm->txtScanStart1, "500");
    EXPECT_EQ(frm->FScanPointCount1, -4999);
    EXPECT_EQ(frm->FScanPointTime1, 10);
    EXPECT_EQ(frm->txtScanTime1->text(), "-49.99");

    commit(frm->txtScanPointRes1, "-0.1");
    EXPECT_EQ(frm->FScanPointCount1, 5001);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "5001");

    // Ties go to the even count: 0..2.5 at 1 is 3.5 points, 0..3.5 at 1 is 4.5.
    frm->txtScanStart1->setText("0");
    frm->txtScanPointRes1->setText("1");
    commit(frm->txtScanEnd1, "2.5");
    EXPECT_EQ(frm->FScanPointCount1, 4);
    commit(frm->txtScanEnd1, "3.5");
    EXPECT_EQ(frm->FScanPointCount1, 4);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ScanParams, CountsBeyondThirtyTwoBitsAreHeldAtTheRangeEnds) {
    frm->txtScanStart1->setText("0");
    frm->txtScanEnd1->setText("1e300");
    commit(frm->txtScanPointRes1, "1e-300");
    EXPECT_EQ(frm->FScanPointCount1, INT_MAX);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "2147483647");
    EXPECT_EQ(frm->FScanPointTime1, 10);
    commit(frm->txtScanPointRes1, "-1e-300");
    EXPECT_EQ(frm->FScanPointCount1, INT_MIN);
    EXPECT_EQ(frm->txtScanPointCount1->text(), "-2147483648");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ScanParams, DivisionByZeroReachesTheErrorHandlerAndRewritesNothing) {
    const double periodBefore = frm->FScanPointTime1; // 10 from start-up
    frm->txtScanPeriodCount1->setText("abc");
    frm->txtScanPointCount1->setText("77");
    frm->txtScanStart1->setText("100");
    commit(frm->txtScanPointRes1, "0");
    EXPECT_EQ(errors, QStringList{"Floating point division by zero"});
    EXPECT_EQ(frm->FScanStart1, 100); // converted before the division
    EXPECT_EQ(frm->FScanResolution1, 0);
    EXPECT_EQ(frm->FScanPointCount1, 77);
    EXPECT_EQ(frm->FScanPeriodCount1, 0);
    EXPECT_EQ(frm->FScanPointTime1, periodBefore);
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
    EXPECT_EQ(frm->FScanPointCount1, 0);
    EXPECT_EQ(frm->FScanPointTime1, periodBefore);
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
