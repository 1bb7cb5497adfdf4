// The reply parsers on their own: short, long, malformed and oversized replies, and what the panel shows.
#include "ConsoleFixture.h"

#include <QLabel>
#include <QRadioButton>

using namespace consoletest;

namespace {

class Parsers : public ::testing::Test {
protected:
    TfrmMain window;
    TSpectrographInfo& info(int Index) { return window.FSpectrograph[Index]; }
};

// One grating block of an info reply: eleven key=value tokens, blaze with its unit.
QString block(int groove, const QString& blaze, int first = 1) {
    return QStringLiteral("A=%1/B=2/G=%2/Z=%3/E=5/F=6/R=7.5/H=8/S=9.25/I=10/J=11/")
        .arg(first)
        .arg(groove)
        .arg(blaze);
}

QString infoHead(int count, const QString& name = QStringLiteral("MONO-1")) {
    return QStringLiteral("NM=%1/TX=text/VR=100/NG=%2/SN=7/").arg(name).arg(count);
}

} // namespace

TEST_F(Parsers, StatusReplyWithSixTokensSetsGratingAndReadout) {
    window.ParseStatusReply(1, "ST=4/GR=2/MD=6/WL=532.5/BS=8/*");
    EXPECT_EQ(info(1).StatusValue0, 4);
    EXPECT_EQ(info(1).CurrentGrating, 2);
    EXPECT_EQ(info(1).StatusValue2, 6);
    EXPECT_DOUBLE_EQ(info(1).CurrentWavelength, 532.5);
    EXPECT_EQ(info(1).StatusValue4, 8);
    EXPECT_TRUE(window.rbGrating22->isChecked());
    EXPECT_FALSE(window.rbGrating21->isChecked());
    EXPECT_DOUBLE_EQ(window.meterCurrWavelength2->Value(), 532.5);
    EXPECT_EQ(window.meterCurrWavelength2->DisplayText(), "532.500 nm");
    // Spectrograph 1 is untouched.
    EXPECT_EQ(info(0).CurrentGrating, 0);
    EXPECT_TRUE(window.rbGrating11->isChecked());
}

TEST_F(Parsers, ShortOrMalformedStatusRepliesKeepTheFieldsButRefreshTheDisplays) {
    window.ParseStatusReply(0, "ST=0/GR=3/MD=0/WL=640/BS=0/*");
    info(0).Name = "STORED";
    window.ParseStatusReply(0, "ST=1/GR=1/MD=0/WL=9/BS=0*"); // five tokens
    EXPECT_EQ(info(0).CurrentGrating, 3);
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 640);
    EXPECT_EQ(window.lblName1->text(), "STORED");
    EXPECT_TRUE(window.rbGrating13->isChecked());

    // A token without "=" keeps its field; a value that is not a number is 0.
    window.ParseStatusReply(0, "ST=0/GR/MD=0/WL=abc/BS=0/*");
    EXPECT_EQ(info(0).CurrentGrating, 3);
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 0);

    // A grating number outside 1..3 checks no radio button.
    window.ParseStatusReply(0, "ST=0/GR=7/MD=0/WL=1/BS=0/*");
    EXPECT_EQ(info(0).CurrentGrating, 7);
    EXPECT_TRUE(window.rbGrating13->isChecked());

    for (const char* junk : {"", "*", "/////", "\"unterminated/quote", "a\"b/c/d/e/f/g"})
        window.ParseStatusReply(0, QString::fromLatin1(junk));
    EXPECT_EQ(info(0).CurrentGrating, 7);
    // "==" holds an empty value, which is no number.
    window.ParseStatusReply(0, "==/==/==/==/==/==");
    EXPECT_EQ(info(0).CurrentGrating, 0);
}

TEST_F(Parsers, PositionReplyReadsTheSecondToken) {
    window.ParsePositionReply(0, "GU=OK/WL=612.25/*");
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 612.25);
    EXPECT_EQ(window.meterCurrWavelength1->DisplayText(), "612.250 nm");
    window.ParsePositionReply(0, "GU=OK*"); // one token: unchanged
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 612.25);
    // The terminator still on the value makes it no number.
    window.ParsePositionReply(0, "GU=OK/WL=600*");
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 0);
    EXPECT_EQ(window.meterCurrWavelength1->DisplayText(), "0.000 nm");
}

TEST_F(Parsers, InfoReplyFillsTheTableAndTheRows) {
    const QString reply = infoHead(3, "MONO") + block(1200, "500nm", 1) + block(600, "1250.5nm", 2) +
                          block(300, "2000nm", 3) + "*";
    window.ParseInfoReply(0, reply);
    const TSpectrographInfo& s = info(0);
    EXPECT_EQ(s.Name, "MONO");
    EXPECT_EQ(s.InfoText1, "text");
    EXPECT_EQ(s.InfoValue2, 100);
    EXPECT_EQ(s.GratingCount, 3);
    EXPECT_EQ(s.InfoValue4, 7);
    EXPECT_EQ(s.Gratings[2].Value0, 3);
    EXPECT_EQ(s.Gratings[2].Value1, 2);
    EXPECT_EQ(s.Gratings[1].Groove, 600);
    EXPECT_DOUBLE_EQ(s.Gratings[1].Blaze, 1250.5);
    EXPECT_EQ(s.Gratings[0].Value4, 5);
    EXPECT_EQ(s.Gratings[0].Value5, 6);
    EXPECT_DOUBLE_EQ(s.Gratings[0].Value6, 7.5);
    EXPECT_EQ(s.Gratings[0].Value7, 8);
    EXPECT_DOUBLE_EQ(s.Gratings[0].Value8, 9.25);
    EXPECT_EQ(s.Gratings[0].Value9, 10);
    EXPECT_EQ(window.lblName1->text(), "MONO");
    EXPECT_EQ(window.txtGroove13->text(), "300");
    EXPECT_EQ(window.txtBlaze12->text(), "1250.5");
    EXPECT_TRUE(window.rbGrating13->isEnabled());

    // One grating: rows 2 and 3 are disabled, and keep the values of the earlier reply.
    window.ParseInfoReply(0, infoHead(1) + block(2400, "250nm") + "*");
    EXPECT_TRUE(window.rbGrating11->isEnabled());
    EXPECT_FALSE(window.rbGrating12->isEnabled());
    EXPECT_FALSE(window.txtGroove12->isEnabled());
    EXPECT_FALSE(window.txtBlaze13->isEnabled());
    EXPECT_EQ(window.txtGroove11->text(), "2400");
    EXPECT_EQ(window.txtGroove12->text(), "600");
    EXPECT_EQ(window.txtBlaze13->text(), "2000");
    // The other panel is untouched.
    EXPECT_EQ(window.txtGroove21->text(), "0");
    EXPECT_TRUE(window.rbGrating23->isEnabledTo(window.gbSpectroGraph2));
}

TEST_F(Parsers, InfoReplyTooShortChangesNothing) {
    info(0).Name = "KEEP";
    window.ParseInfoReply(0, "NM=NEW/TX=t/VR=1/NG=2*");
    EXPECT_EQ(info(0).Name, "KEEP");
    EXPECT_EQ(info(0).GratingCount, 0);
    EXPECT_EQ(window.lblName1->text(), "");

    // A count outside 1..3 leaves the rows as they are.
    window.ParseInfoReply(0, infoHead(0) + "*");
    EXPECT_EQ(info(0).Name, "MONO-1");
    EXPECT_TRUE(window.rbGrating12->isEnabled());
    window.ParseInfoReply(0, infoHead(-4) + "*");
    EXPECT_TRUE(window.rbGrating13->isEnabled());
}

TEST_F(Parsers, InfoReplyReadsOnlyTheCompleteGratingBlocks) {
    // Three gratings announced, one and a half present: the half block is not read.
    const QString half = QStringLiteral("A=9/B=9/G=999/Z=999nm/");
    window.ParseInfoReply(0, infoHead(3) + block(1200, "500nm") + half + "*");
    EXPECT_EQ(info(0).Gratings[0].Groove, 1200);
    EXPECT_EQ(info(0).Gratings[1].Groove, 0);
    EXPECT_EQ(info(0).Gratings[1].Value0, 0);
    EXPECT_EQ(window.txtGroove12->text(), "0");
    EXPECT_TRUE(window.rbGrating13->isEnabled()); // the count still decides the rows

    // The unread eleventh token of the last block may be missing.
    QString lastShort = infoHead(1) + block(1800, "400nm");
    lastShort.chop(QStringLiteral("/J=11/").size());
    window.ParseInfoReply(1, lastShort + "*");
    EXPECT_EQ(info(1).Gratings[0].Groove, 1800);
    // ... but the ten read tokens may not: the block with nine is skipped.
    QString nine = infoHead(1) + block(1700, "300nm");
    nine.chop(QStringLiteral("/I=10/J=11/").size());
    window.ParseInfoReply(1, nine + "*");
    EXPECT_EQ(info(1).Gratings[0].Groove, 1800);
}

TEST_F(Parsers, InfoReplyBeyondTheTableStopsAtElevenGratings) {
    QString reply = infoHead(40);
    for (int g = 0; g < 40; ++g)
        reply += block(100 + g, QStringLiteral("%1nm").arg(g), g);
    window.ParseInfoReply(0, reply + "*");
    EXPECT_EQ(info(0).GratingCount, 40);
    EXPECT_EQ(info(0).Gratings[10].Groove, 110);
    EXPECT_EQ(info(0).Gratings[10].Value0, 10);
    // Whatever follows the table in memory is the status: untouched.
    EXPECT_EQ(info(0).StatusValue0, 0);
    EXPECT_EQ(info(0).CurrentGrating, 0);

    // A huge count with few tokens, and a huge reply.
    window.ParseInfoReply(0, infoHead(2147483647) + block(1, "1nm") + "*");
    EXPECT_EQ(info(0).Gratings[0].Groove, 1);
    window.ParseInfoReply(1, infoHead(3) + QString(200000, u'/') + "*");
    EXPECT_EQ(info(1).Gratings[0].Groove, 0);
    EXPECT_EQ(info(1).Name, "MONO-1");
}

TEST_F(Parsers, BlazeLosesItsUnit) {
    window.ParseInfoReply(0, infoHead(3) + block(1, "500nm") + block(2, "5") + block(3, "12.75um") + "*");
    EXPECT_DOUBLE_EQ(info(0).Gratings[0].Blaze, 500);
    EXPECT_DOUBLE_EQ(info(0).Gratings[1].Blaze, 0); // shorter than its unit
    EXPECT_DOUBLE_EQ(info(0).Gratings[2].Blaze, 12.75);
    EXPECT_EQ(window.txtBlaze11->text(), "500");
    EXPECT_EQ(window.txtBlaze13->text(), "12.75");
}
