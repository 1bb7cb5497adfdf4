// The reply parsers on their own: short, long, malformed and oversized replies, and what the panel shows.
#include "ConsoleFixture.h"

#include <QLabel>
#include <QRadioButton>

using namespace consoletest;

namespace {

class Parsers : public ::testing::Test {
protected:
    TfrmMain window;
    const TSpectrographInfo& info(int Index) { return window.panel(Index).info(); }
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
    EXPECT_EQ(window.panel(1).parseStatusReply("ST=4/GR=2/MD=6/WL=532.5/BS=8/*"), "");
    EXPECT_EQ(info(1).StatusValue0, 4);
    EXPECT_EQ(info(1).CurrentGrating, 2);
    EXPECT_EQ(info(1).StatusValue2, 6);
    EXPECT_DOUBLE_EQ(info(1).CurrentWavelength, 532.5);
    EXPECT_EQ(info(1).StatusValue4, 8);
    EXPECT_DOUBLE_EQ(window.meterCurrWavelength2->Value(), 532.5);
    EXPECT_EQ(window.meterCurrWavelength2->DisplayText(), "532.500 nm");
    // Spectrograph 1 is untouched.
    EXPECT_EQ(info(0).CurrentGrating, 0);
    EXPECT_TRUE(window.rbGrating11->isChecked());
}

// A reply that is not what its command asks for is a bad reply: it changes nothing and the panel shows
// what it showed, the readout included.
TEST_F(Parsers, MalformedRepliesChangeNothing) {
    ASSERT_EQ(window.panel(0).parseStatusReply("ST=0/GR=3/MD=0/WL=640/BS=0/*"), "");
    for (const char* junk :
         {"", "*", "/////", "ST=1/GR=1/MD=0/WL=9/BS=0*", "ST=0/GR/MD=0/WL=9/BS=0/*",
          "ST=0/GR=1/MD=0/WL=abc/BS=0/*", "ST=0/GR=1/MD=0/WL=1e400/BS=0/*", "ST=0/GR=1/MD=0/WL=nan/BS=0/*",
          "ST=0/GR=1/MD=0/WL=-inf/BS=0/*", "\"unterminated/quote", "==/==/==/==/==/=="})
        EXPECT_TRUE(window.panel(0).parseStatusReply(QString::fromLatin1(junk)).startsWith("not a status"))
            << junk;
    EXPECT_EQ(info(0).CurrentGrating, 3);
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 640);
    EXPECT_DOUBLE_EQ(window.meterCurrWavelength1->Value(), 640);

    for (const char* junk :
         {"GU=OK*", "GU=OK/WL=600*", "GU=OK/WL=Infinity/*", "GU=OK/WL=NaN/*", "GU=OK/WL/*"})
        EXPECT_TRUE(
            window.panel(0).parsePositionReply(QString::fromLatin1(junk)).startsWith("not a position"))
            << junk;
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 640);
    EXPECT_EQ(window.meterCurrWavelength1->DisplayText(), "640.000 nm");
}

TEST_F(Parsers, PositionReplyReadsTheSecondToken) {
    EXPECT_EQ(window.panel(0).parsePositionReply("GU=OK/WL=612.25/*"), "");
    EXPECT_DOUBLE_EQ(info(0).CurrentWavelength, 612.25);
    EXPECT_EQ(window.meterCurrWavelength1->DisplayText(), "612.250 nm");
}

TEST_F(Parsers, InfoReplyFillsTheTableAndTheRows) {
    const QString reply = infoHead(3, "MONO") + block(1200, "500nm", 1) + block(600, "1250.5nm", 2) +
                          block(300, "2000nm", 3) + "*";
    EXPECT_EQ(window.panel(0).parseInfoReply(reply), "");
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
    EXPECT_EQ(window.panel(0).parseInfoReply(infoHead(1) + block(2400, "250nm") + "*"), "");
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

    // The unread eleventh token of the last block may be missing.
    QString lastShort = infoHead(1) + block(1800, "400nm");
    lastShort.chop(QStringLiteral("/J=11/").size());
    EXPECT_EQ(window.panel(1).parseInfoReply(lastShort + "*"), "");
    EXPECT_EQ(info(1).Gratings[0].Groove, 1800);
}

// A name and grating table of line noise, a short table or a count beyond it is a bad reply: the name, the
// table and the rows stay as they were.
TEST_F(Parsers, IncompleteOrNoisyInfoRepliesChangeNothing) {
    ASSERT_EQ(window.panel(0).parseInfoReply(infoHead(2, "KEEP") + block(1200, "500nm") +
                                             block(600, "1000nm") + "*"),
              "");
    const QString half = QStringLiteral("A=9/B=9/G=999/Z=999nm/");
    QString nine = infoHead(1) + block(1700, "300nm");
    nine.chop(QStringLiteral("/I=10/J=11/").size());
    QString beyond = infoHead(40);
    for (int g = 0; g < 40; ++g)
        beyond += block(100 + g, QStringLiteral("%1nm").arg(g), g);
    for (const QString& junk :
         {QStringLiteral("NM=NEW/TX=t/VR=1/NG=2*"), infoHead(0) + "*", infoHead(-4) + "*",
          infoHead(3) + block(1200, "500nm") + half + "*", nine + "*", beyond + "*",
          infoHead(2147483647) + block(1, "1nm") + "*", infoHead(3) + QString(200000, u'/') + "*",
          infoHead(1, QStringLiteral("\x01\x7f\xe9")) + block(1, "1nm") + "*",
          infoHead(1) + block(1, "5") + "*", QStringLiteral("x\x93\x11#/\xff=\x02*")})
        EXPECT_TRUE(window.panel(0).parseInfoReply(junk).startsWith("not a name and grating table"))
            << junk.left(60).toStdString();
    EXPECT_EQ(info(0).Name, "KEEP");
    EXPECT_EQ(info(0).GratingCount, 2);
    EXPECT_EQ(info(0).Gratings[0].Groove, 1200);
    EXPECT_EQ(window.lblName1->text(), "KEEP");
    EXPECT_TRUE(window.rbGrating12->isEnabled());
    EXPECT_FALSE(window.rbGrating13->isEnabled());
}

TEST_F(Parsers, BlazeLosesItsUnit) {
    EXPECT_EQ(window.panel(0).parseInfoReply(infoHead(2) + block(1, "500nm") + block(3, "12.75um") + "*"),
              "");
    EXPECT_DOUBLE_EQ(info(0).Gratings[0].Blaze, 500);
    EXPECT_DOUBLE_EQ(info(0).Gratings[1].Blaze, 12.75);
    EXPECT_EQ(window.txtBlaze11->text(), "500");
    EXPECT_EQ(window.txtBlaze12->text(), "12.75");
}
