// The log pane takes its lines in batches: nothing may be lost or reordered, a burst must cost one change
// of the pane, and emptying at the line limit must leave the pane as line-by-line appends would.
#include "LogMemo.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTest>

namespace {

// The owner's rule, as the console's window has it: past the limit, the pane is emptied.
void emptyPastLimit(QPlainTextEdit* Pane, int Limit) {
    QObject::connect(Pane, &QPlainTextEdit::textChanged, Pane, [Pane, Limit] {
        if (Pane->blockCount() > Limit)
            Pane->clear();
    });
}

bool settle(LogMemo& Pane) {
    return QTest::qWaitFor([&] { return Pane.PendingCount() == 0; }, 5000);
}

} // namespace

TEST(LogMemo, LinesArriveInOrderAndABurstIsOneChangeOfThePane) {
    LogMemo pane;
    int changes = 0;
    QObject::connect(&pane, &QPlainTextEdit::textChanged, [&] { ++changes; });

    pane.AppendLine(QStringLiteral("first"));
    EXPECT_TRUE(pane.toPlainText().isEmpty()); // queued, not yet drawn into the pane
    ASSERT_TRUE(settle(pane));
    EXPECT_EQ(pane.toPlainText(), QStringLiteral("first"));
    EXPECT_EQ(changes, 1);

    QStringList expected{QStringLiteral("first")};
    for (int i = 0; i < 1000; ++i) {
        expected.append(QStringLiteral("line %1").arg(i));
        pane.AppendLine(expected.last());
    }
    ASSERT_TRUE(settle(pane));
    EXPECT_EQ(pane.toPlainText().split(QLatin1Char('\n')), expected);
    EXPECT_EQ(changes, 2);

    pane.AppendLine(QStringLiteral("flushed at once"));
    pane.Flush();
    EXPECT_EQ(pane.PendingCount(), 0);
    EXPECT_TRUE(pane.toPlainText().endsWith(QStringLiteral("\nflushed at once")));
}

TEST(LogMemo, BatchesEmptyThePaneExactlyWhereLineByLineAppendsWould) {
    constexpr int limit = 7;
    auto* generator = QRandomGenerator::global();
    for (int round = 0; round < 40; ++round) {
        LogMemo batched;
        batched.SetLineLimit(limit);
        emptyPastLimit(&batched, limit);
        QPlainTextEdit reference;
        emptyPastLimit(&reference, limit);

        int next = 0;
        for (int batch = 0; batch < 6; ++batch) {
            const int size = static_cast<int>(generator->bounded(1, 3 * limit));
            for (int i = 0; i < size; ++i) {
                // Now and then a text of two lines, which counts as two.
                const QString text = generator->bounded(10) == 0 ? QStringLiteral("t%1a\nt%1b").arg(next)
                                                                 : QStringLiteral("t%1").arg(next);
                ++next;
                batched.AppendLine(text);
                reference.appendPlainText(text);
            }
            batched.Flush();
            ASSERT_EQ(batched.toPlainText(), reference.toPlainText())
                << "round " << round << " batch " << batch;
            ASSERT_LE(batched.blockCount(), limit);
        }
    }
}
