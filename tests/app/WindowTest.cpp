// The main window as laid out: size, colour, named and labelled controls, the selector, the log panes.
#include "ConsoleFixture.h"

#include "znLog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QGroupBox>
#include <QRadioButton>
#include <QRegularExpression>

#include <map>

using namespace consoletest;

using Window = ConsoleFixture;

TEST_F(Window, FixedWhiteWindowWithBothPanelsWhereTheyBelong) {
    startConsole();
    EXPECT_EQ(window->size(), QSize(735, 686));
    EXPECT_EQ(window->minimumSize(), QSize(735, 686));
    EXPECT_EQ(window->maximumSize(), QSize(735, 686));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(window->gbSpectroGraph1->geometry(), QRect(4, 49, 362, 633));
    EXPECT_EQ(window->gbSpectroGraph2->geometry(), QRect(369, 49, 362, 633));
    EXPECT_EQ(window->gbSpectroGraph1->title(), "Spectrograph 1");
    EXPECT_EQ(window->gbSpectroGraph2->title(), "Spectrograph 2");
    EXPECT_EQ(window->rgSelection->title(), "Selection Spectrograph");
    // Shown: selection "1", panel 1 enabled, panel 2 disabled.
    EXPECT_EQ(window->rgSelectionItems->checkedId(), 0);
    EXPECT_TRUE(window->gbSpectroGraph1->isEnabled());
    EXPECT_FALSE(window->gbSpectroGraph2->isEnabled());
    EXPECT_EQ(window->meterCurrWavelength1->DisplayText(), "0.000 nm");
}

TEST_F(Window, EveryControlHasItsNameAndEveryEditItsLabel) {
    startConsole();
    for (const char* name : {"imgLogo", "rgSelection", "btnClose"})
        EXPECT_NE(window->findChild<QWidget*>(name), nullptr) << name;
    const std::map<QString, QString> edits{{"txtGroove#1", "Groove 1"},
                                           {"txtGroove#2", "Groove 2"},
                                           {"txtGroove#3", "Groove 3"},
                                           {"txtBlaze#1", "Blaze 1"},
                                           {"txtBlaze#2", "Blaze 2"},
                                           {"txtBlaze#3", "Blaze 3"},
                                           {"txtMoveWavelength#", "Target wavelength (nm)"},
                                           {"txtJogStep#", "Jog step (nm)"},
                                           {"txtScanStart#", "Range (nm) start"},
                                           {"txtScanEnd#", "Range (nm) end"},
                                           {"txtScanPointRes#", "Resolution (nm)"},
                                           {"txtScanPointCount#", "Points"},
                                           {"txtScanTime#", "Scan Time (sec)"},
                                           {"txtScanPointTime#", "Resolution Time (sec)"},
                                           {"txtScanPeriodCount#", "No. of Scan"}};
    for (int n : {1, 2}) {
        for (const char* pattern :
             {"btnComm#", "lblName#", "bntInitialize#", "meterCurrWavelength#", "rbGrating#1", "rbGrating#2",
              "rbGrating#3", "btnMove#", "btnMoveStop#", "btnJogMinus#", "btnJogPlus#", "btnScan#",
              "btnScanStop#", "cbExpertMode#", "memoLog#", "gbSpectroGraph#"}) {
            const QString name = QString::fromLatin1(pattern).replace(u'#', QString::number(n));
            EXPECT_NE(window->findChild<QWidget*>(name), nullptr) << name.toStdString();
        }
        for (const auto& [pattern, label] : edits) {
            const QString name = QString(pattern).replace(u'#', QString::number(n));
            auto* edit = window->findChild<QLineEdit*>(name);
            ASSERT_NE(edit, nullptr) << name.toStdString();
            EXPECT_EQ(edit->accessibleName(), label) << name.toStdString();
        }
    }
    EXPECT_EQ(window->txtMoveWavelength2->text(), "0");
    EXPECT_EQ(window->txtJogStep2->text(), "5");
    EXPECT_EQ(window->txtScanEnd2->text(), "500");
    EXPECT_EQ(window->btnMove2->text(), "MOVE");
    EXPECT_EQ(window->cbExpertMode2->text(), "Expert Mode 2");
}

TEST_F(Window, LogPaneEmptiesAtItsTenThousandAndFirstLineWhileTheFileKeepsEveryLine) {
    startConsole();
    // Other runs write to the same daily file: this run's lines carry a mark of their own.
    const QString tag = QStringLiteral("pane-%1-%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(QDateTime::currentMSecsSinceEpoch());
    window->AddLog2(tag + " other pane");
    for (int i = 1; i <= 10000; ++i)
        window->AddLog1(QStringLiteral("%1 %2").arg(tag).arg(i));
    EXPECT_EQ(paneLines(0).last(), tag + " 10000");
    EXPECT_EQ(window->memoLog1->blockCount(), 10000);

    window->AddLog1(tag + " 10001");
    EXPECT_TRUE(paneLines(0).isEmpty());
    window->AddLog1(tag + " 10002");
    EXPECT_EQ(paneLines(0), QStringList{tag + " 10002"});
    EXPECT_EQ(paneLines(1), QStringList{tag + " other pane"});

    // Closing writes the buffered lines out; the file holds all of them, stamped, in order.
    const QString path = window->LogFile->FullPath();
    window->close();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QStringList mine;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.contains(tag.toLatin1()))
            mine.append(QString::fromLatin1(line));
    ASSERT_EQ(mine.size(), 10003);
    EXPECT_TRUE(mine[0].endsWith(tag + " other pane\r"));
    for (int i = 1; i <= 10002; ++i)
        ASSERT_TRUE(mine[i].endsWith(QStringLiteral("\t%1 %2\r").arg(tag).arg(i))) << mine[i].toStdString();
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}\\t\\d{2}:\\d{2}:\\d{2}\\t"));
    EXPECT_TRUE(stamp.match(mine[1]).hasMatch()) << mine[1].toStdString();
}

TEST_F(Window, CloseButtonClosesThePortAndTheLog) {
    startConsole();
    window->panel(0).comm()->SetPort(COM03);
    ASSERT_TRUE(window->panel(0).comm()->OpenComm());
    click(window->btnClose);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->panel(0).comm()->PortOpened());
    EXPECT_FALSE(window->LogFile->Active());
}
