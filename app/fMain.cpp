#include "fMain.h"

#include "ui_fMain.h"

#include "ConsoleSettings.h"
#include "ImageList.h"
#include "KivButton.h"
#include "KivColor.h"
#include "KivComm.h"
#include "KivFrame.h"
#include "KivIndicator.h"
#include "KivLEDBtn.h"
#include "KivPortAccess.h"
#include "KivStrUtils.h"
#include "LightTheme.h"
#include "LogMemo.h"
#include "OrvaneApplication.h"
#include "OrvaneErrors.h"
#include "RepaintPacer.h"
#include "SingleInstance.h"
#include "fExpertMode1.h"
#include "fExpertMode2.h"
#include "znLog.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <limits>

TfrmMain* frmMain = nullptr;

namespace {

constexpr int LogPaneLineLimit = 10000; // the pane is emptied at the line after

// The text an edit had when it was last committed or written by the window: a commit is an edit that
// finished with a text different from it.
constexpr char CommittedTextProperty[] = "orvaneCommittedText";

void writeBack(QLineEdit* Edit, const QString& Text) {
    Edit->setProperty(CommittedTextProperty, Text);
    Edit->setText(Text);
}

// A typed number, or NaN when the text is none: a typo never becomes 0 nm.
double typedNumber(const QLineEdit* Edit) {
    return StrToFloatDefault(Edit->text(), std::numeric_limits<double>::quiet_NaN());
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmMain>()) {
    ui->setupUi(this);
    setupComponents();
    setupDesignTimeSettings();
    connectHandlers();
    for (int i = 0; i < 2; ++i)
        panel(i).setEnabled(FViews[i].gbSpectroGraph->isEnabledTo(this));
    new RepaintPacer(this);
    runGuarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
    if (frmMain == this)
        frmMain = nullptr;
    // The panels go first: they leave the search queue, which is the window's.
    for (SpectrographPanel*& p : FPanels) {
        delete p;
        p = nullptr;
    }
    FollowApplicationPalette();
}

QPalette TfrmMain::lightPalette() {
    // Not Fusion's standard palette: under a dark GTK theme it turns dark with the desktop.
    return LightPalette();
}

void TfrmMain::setupComponents() {
    imgLogo = ui->imgLogo;
    rgSelection = ui->rgSelection;
    btnClose = ui->btnClose;
    gbSpectroGraph1 = ui->gbSpectroGraph1;
    gbSpectroGraph2 = ui->gbSpectroGraph2;
    btnComm1 = ui->btnComm1;
    btnComm2 = ui->btnComm2;
    lblName1 = ui->lblName1;
    lblName2 = ui->lblName2;
    bntInitialize1 = ui->bntInitialize1;
    bntInitialize2 = ui->bntInitialize2;
    meterCurrWavelength1 = ui->meterCurrWavelength1;
    meterCurrWavelength2 = ui->meterCurrWavelength2;
    rbGrating11 = ui->rbGrating11;
    rbGrating12 = ui->rbGrating12;
    rbGrating13 = ui->rbGrating13;
    rbGrating21 = ui->rbGrating21;
    rbGrating22 = ui->rbGrating22;
    rbGrating23 = ui->rbGrating23;
    txtGroove11 = ui->txtGroove11;
    txtGroove12 = ui->txtGroove12;
    txtGroove13 = ui->txtGroove13;
    txtGroove21 = ui->txtGroove21;
    txtGroove22 = ui->txtGroove22;
    txtGroove23 = ui->txtGroove23;
    txtBlaze11 = ui->txtBlaze11;
    txtBlaze12 = ui->txtBlaze12;
    txtBlaze13 = ui->txtBlaze13;
    txtBlaze21 = ui->txtBlaze21;
    txtBlaze22 = ui->txtBlaze22;
    txtBlaze23 = ui->txtBlaze23;
    txtMoveWavelength1 = ui->txtMoveWavelength1;
    txtMoveWavelength2 = ui->txtMoveWavelength2;
    btnMove1 = ui->btnMove1;
    btnMove2 = ui->btnMove2;
    btnMoveStop1 = ui->btnMoveStop1;
    btnMoveStop2 = ui->btnMoveStop2;
    btnJogMinus1 = ui->btnJogMinus1;
    btnJogMinus2 = ui->btnJogMinus2;
    btnJogPlus1 = ui->btnJogPlus1;
    btnJogPlus2 = ui->btnJogPlus2;
    txtJogStep1 = ui->txtJogStep1;
    txtJogStep2 = ui->txtJogStep2;
    txtScanStart1 = ui->txtScanStart1;
    txtScanStart2 = ui->txtScanStart2;
    txtScanEnd1 = ui->txtScanEnd1;
    txtScanEnd2 = ui->txtScanEnd2;
    txtScanPointRes1 = ui->txtScanPointRes1;
    txtScanPointRes2 = ui->txtScanPointRes2;
    txtScanPointCount1 = ui->txtScanPointCount1;
    txtScanPointCount2 = ui->txtScanPointCount2;
    txtScanTime1 = ui->txtScanTime1;
    txtScanTime2 = ui->txtScanTime2;
    txtScanPointTime1 = ui->txtScanPointTime1;
    txtScanPointTime2 = ui->txtScanPointTime2;
    txtScanPeriodCount1 = ui->txtScanPeriodCount1;
    txtScanPeriodCount2 = ui->txtScanPeriodCount2;
    btnScan1 = ui->btnScan1;
    btnScan2 = ui->btnScan2;
    btnScanStop1 = ui->btnScanStop1;
    btnScanStop2 = ui->btnScanStop2;
    cbExpertMode1 = ui->cbExpertMode1;
    cbExpertMode2 = ui->cbExpertMode2;
    memoLog1 = ui->memoLog1;
    memoLog2 = ui->memoLog2;

    // Non-visual components of the form; each spectrograph's port and timers belong to its panel.
    for (int i = 0; i < 2; ++i)
        FPanels[i] = new SpectrographPanel(i, FSearches, this);
    LogFile = new TznLog(this);
    LogFile->setObjectName(QStringLiteral("LogFile"));
    BtnSkinnerXP = new TKivBtnSkinner(this);
    BtnSkinnerXP->setObjectName(QStringLiteral("BtnSkinnerXP"));
    imlMain = new TImageList(16, 16, this);
    imlMain->setObjectName(QStringLiteral("imlMain"));
    imlMain24 = new TImageList(24, 24, this);
    imlMain24->setObjectName(QStringLiteral("imlMain24"));
    rgSelectionItems = new QButtonGroup(this);
    rgSelectionItems->addButton(ui->rgSelectionItem0, 0);
    rgSelectionItems->addButton(ui->rgSelectionItem1, 1);
    rgSelectionItems->addButton(ui->rgSelectionItem2, 2);

    // Each panel's controls, found by their names on the form: the digit is the spectrograph's.
    for (int i = 0; i < 2; ++i) {
        const QString n = QString::number(i + 1);
        auto find = [this, &n]<typename T>(T*& Control, const char* Name, const QString& Row = {}) {
            Control = findChild<T*>(QLatin1String(Name) + n + Row);
            Q_ASSERT(Control);
        };
        PanelView& v = FViews[i];
        find(v.gbSpectroGraph, "gbSpectroGraph");
        find(v.btnComm, "btnComm");
        find(v.lblName, "lblName");
        find(v.bntInitialize, "bntInitialize");
        find(v.meterCurrWavelength, "meterCurrWavelength");
        for (int row = 0; row < 3; ++row) {
            const QString r = QString::number(row + 1);
            find(v.rbGrating[row], "rbGrating", r);
            find(v.txtGroove[row], "txtGroove", r);
            find(v.txtBlaze[row], "txtBlaze", r);
        }
        find(v.txtMoveWavelength, "txtMoveWavelength");
        find(v.btnMove, "btnMove");
        find(v.btnMoveStop, "btnMoveStop");
        find(v.btnJogMinus, "btnJogMinus");
        find(v.btnJogPlus, "btnJogPlus");
        find(v.txtJogStep, "txtJogStep");
        find(v.cbExpertMode, "cbExpertMode");
        find(v.memoLog, "memoLog");
        find(v.txtScanStart, "txtScanStart");
        find(v.txtScanEnd, "txtScanEnd");
        find(v.txtScanPointRes, "txtScanPointRes");
        find(v.txtScanPointCount, "txtScanPointCount");
        find(v.txtScanTime, "txtScanTime");
        find(v.txtScanPointTime, "txtScanPointTime");
        find(v.txtScanPeriodCount, "txtScanPeriodCount");
        find(v.btnScan, "btnScan");
        find(v.btnScanStop, "btnScanStop");
    }
}

// ---- Design-time settings that the window description cannot express ----------------------------------
// Fonts in pixels, the window's colours, the component settings of the form, the skinner's bitmaps and the
// image lists with the buttons' glyphs.
void TfrmMain::setupDesignTimeSettings() {
    QFont formFont(QStringLiteral("Arial"));
    formFont.setPixelSize(13);
    formFont.setBold(false); // stated, so that controls in a bold group box stay regular
    setFont(formFont);
    // The window keeps its own light colours under any desktop theme: a dark palette would turn the labels
    // white on this white window. The instrument widgets' system colours follow the same palette.
    const QPalette light = lightPalette();
    SetSystemColorPalette(light);
    QPalette white = light;
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/orvane/icons/hicolor/%1x%1/apps/orvane.png").arg(size),
                     QSize(size, size));
    setWindowIcon(icon);
    setAutoFillBackground(true);
    setFixedSize(735, 686);

    QFont boldFont = formFont;
    boldFont.setBold(true);
    for (QGroupBox* box : findChildren<QGroupBox*>()) {
        box->setFont(boldFont);
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!qobject_cast<QGroupBox*>(child))
                child->setFont(formFont);
    }

    LogFile->SetDateFormat(QStringLiteral("yyyy_mm_dd"));
    LogFile->SetLogBy(lbDate);
    LogFile->SetOptions(TznLogOptions() | loAppendDate | loAppendLineBreak | loAppendTime);

    BtnSkinnerXP->SetFixedWidth(4);
    BtnSkinnerXP->SetFixedHeight(4);
    BtnSkinnerXP->SetTransparentColor(clFuchsia);
    BtnSkinnerXP->SetBitmapNormal(QImage(QStringLiteral(":/orvane/skin/normal.bmp")));
    BtnSkinnerXP->SetBitmapDown(QImage(QStringLiteral(":/orvane/skin/down.bmp")));
    BtnSkinnerXP->SetBitmapEnter(QImage(QStringLiteral(":/orvane/skin/enter.bmp")));
    BtnSkinnerXP->SetBitmapDisabled(QImage(QStringLiteral(":/orvane/skin/disabled.bmp")));
    BtnSkinnerXP->SetBitmapFocused(QImage(QStringLiteral(":/orvane/skin/focused.bmp")));
    for (int index : {11, 12, 13, 61, 73, 74})
        imlMain->SetImage(index, QImage(QStringLiteral(":/orvane/iml16/%1.png").arg(index)));
    imlMain24->SetImage(0, QImage(QStringLiteral(":/orvane/iml24/0.png")));

    QFont buttonFont = formFont;
    auto skin = [&](TKivButton* button) {
        button->setFont(buttonFont);
        button->SetFlat(false);
        button->SetThemeAware(false);
        button->SetColor(clAqua);
        button->SetSkinner(BtnSkinnerXP);
    };
    auto glyph = [&](TKivBitBtn* button, TImageList* images, int index) {
        skin(button);
        button->SetImages(images);
        button->SetImageIndex(index);
    };
    glyph(btnClose, imlMain24, 0);
    for (int i = 0; i < 2; ++i) {
        const PanelView& p = FViews[i];
        skin(p.btnComm);
        p.btnComm->LED()->SetWidth(15);
        p.btnComm->LED()->SetHeight(15);
        p.btnComm->LED()->SetShape(alsCircle);
        p.btnComm->LED()->SetOffColor(clRed);
        p.btnComm->SetMargin(0);
        p.btnComm->SetSpacing(0);
        glyph(p.bntInitialize, imlMain, 11);
        glyph(p.btnMove, imlMain, 74);
        glyph(p.btnMoveStop, imlMain, 73);
        glyph(p.btnJogMinus, imlMain, 12);
        glyph(p.btnJogPlus, imlMain, 13);
        p.btnJogPlus->SetGlyphLayout(blGlyphRight);

        p.lblName->setFrameShape(QFrame::Panel);
        p.lblName->setFrameShadow(QFrame::Plain);
        p.lblName->setLineWidth(1);
        QPalette face = p.lblName->palette();
        face.setColor(QPalette::Window, ColorToQColor(clBtnFace));
        p.lblName->setPalette(face);

        TKivOdoMeter* meter = p.meterCurrWavelength;
        meter->BeginLoading();
        meter->SetColor(clNavy);
        QFont captionFont = formFont;
        captionFont.setBold(true);
        meter->SetFont(TKivFont{captionFont, clWindowText, 0});
        meter->SetTransparentColor(clWhite);
        meter->SetAlignment(taLeftJustify);
        meter->SetCaption(QStringLiteral("Current Wavelength"));
        meter->SetCaptionWidth(140);
        meter->SetFrameColor(clWhite);
        for (TKivFrame* frame : {meter->FrameInner(), meter->FrameOuter()}) {
            frame->SetVisible(false);
            frame->SetEnabled(false);
        }
        meter->SetMargin(0);
        meter->SetLayout(tlCenter);
        meter->SetShowClearButton(false);
        meter->SetValueFormat(QStringLiteral("%.3f"));
        meter->SetValueUnit(QStringLiteral("nm"));
        QFont unitFont(QStringLiteral("Arial"));
        unitFont.setPixelSize(11);
        unitFont.setBold(false);
        meter->SetValueUnitFont(TKivFont{unitFont, clWhite, 0});
        QFont valueFont(QStringLiteral("Arial"));
        valueFont.setPixelSize(24);
        valueFont.setBold(true);
        meter->SetValueFont(TKivFont{valueFont, clFuchsia, 0});
        meter->Loaded();

        QPalette aqua = p.memoLog->palette();
        aqua.setColor(QPalette::Base, ColorToQColor(clAqua));
        aqua.setColor(QPalette::Text, Qt::black);
        p.memoLog->setPalette(aqua);
        p.memoLog->SetLineLimit(LogPaneLineLimit);
    }
    glyph(btnScan1, imlMain, 61);
    glyph(btnScan2, imlMain, 61);
    glyph(btnScanStop1, imlMain, 73);
    glyph(btnScanStop2, imlMain, 73);

    // Controls whose captions change with every command keep the size the form gives them, so that a new
    // caption does not ask their panel for a layout pass it has no layout for.
    for (QWidget* control :
         {static_cast<QWidget*>(btnMove1), static_cast<QWidget*>(btnMove2), static_cast<QWidget*>(btnScan1),
          static_cast<QWidget*>(btnScan2), static_cast<QWidget*>(lblName1), static_cast<QWidget*>(lblName2)})
        control->setFixedSize(control->size());
}
// ---- End of the design-time settings -----------------------------------------------------------------

void TfrmMain::connectHandlers() {
    connect(btnClose, &QPushButton::clicked, this, guarded([this](bool) { btnCloseClick(); }));
    connect(rgSelectionItems, &QButtonGroup::idClicked, this, guarded([this](int) { rgSelectionClick(); }));
    connect(memoLog1, &QPlainTextEdit::textChanged, this, guarded([this] { memoLog1Change(); }));
    connect(memoLog2, &QPlainTextEdit::textChanged, this, guarded([this] { memoLog2Change(); }));

    auto click = [this](QAbstractButton* button, void (TfrmMain::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                guarded([this, handler](bool) { (this->*handler)(); }));
    };
    click(btnComm1, &TfrmMain::btnComm1Click);
    click(btnComm2, &TfrmMain::btnComm2Click);
    click(bntInitialize1, &TfrmMain::bntInitialize1Click);
    click(bntInitialize2, &TfrmMain::bntInitialize2Click);
    click(btnMove1, &TfrmMain::btnMove1Click);
    click(btnMove2, &TfrmMain::btnMove2Click);
    click(btnMoveStop1, &TfrmMain::btnMoveStop1Click);
    click(btnMoveStop2, &TfrmMain::btnMoveStop2Click);
    click(btnJogPlus1, &TfrmMain::btnJogPlus1Click);
    click(btnJogPlus2, &TfrmMain::btnJogPlus2Click);
    click(btnJogMinus1, &TfrmMain::btnJogMinus1Click);
    click(btnJogMinus2, &TfrmMain::btnJogMinus2Click);
    click(cbExpertMode1, &TfrmMain::cbExpertMode1Click);
    click(cbExpertMode2, &TfrmMain::cbExpertMode2Click);
    click(btnScan1, &TfrmMain::btnScan1Click);
    click(btnScan2, &TfrmMain::btnScan2Click);
    click(btnScanStop1, &TfrmMain::btnScanStop1Click);
    click(btnScanStop2, &TfrmMain::btnScanStop2Click);

    connectCommit(txtScanStart1, &TfrmMain::txtScanStart1PropertiesEditValueChanged);
    connectCommit(txtScanStart2, &TfrmMain::txtScanStart2PropertiesEditValueChanged);
    connectCommit(txtScanEnd1, &TfrmMain::txtScanEnd1PropertiesEditValueChanged);
    connectCommit(txtScanEnd2, &TfrmMain::txtScanEnd2PropertiesEditValueChanged);
    connectCommit(txtScanPointRes1, &TfrmMain::txtScanPointRes1PropertiesEditValueChanged);
    connectCommit(txtScanPointRes2, &TfrmMain::txtScanPointRes2PropertiesEditValueChanged);
    connectCommit(txtScanPointCount1, &TfrmMain::txtScanPointCount1PropertiesEditValueChanged);
    connectCommit(txtScanPointCount2, &TfrmMain::txtScanPointCount2PropertiesEditValueChanged);
    connectCommit(txtScanTime1, &TfrmMain::txtScanTime1PropertiesEditValueChanged);
    connectCommit(txtScanTime2, &TfrmMain::txtScanTime2PropertiesEditValueChanged);

    connectPanel(0);
    connectPanel(1);
}

// The window shows what its panel says and does: the panel's signals land here.
void TfrmMain::connectPanel(int Index) {
    SpectrographPanel& p = panel(Index);
    const PanelView& v = FViews[Index];
    p.OnLog = [this, Index](const QString& Text) { writeLog(Index, Text); };
    connect(&p, &SpectrographPanel::changed, this, [this, Index] { showPanel(Index); });
    connect(&p, &SpectrographPanel::nameShown, this,
            [this, Index](const QString& Text) { showName(Index, Text); });
    connect(&p, &SpectrographPanel::wavelengthShown, this,
            [&v](double Nm) { v.meterCurrWavelength->SetValue(Nm); });
    connect(&p, &SpectrographPanel::gratingShown, this, [&v](int Grating) {
        if (Grating >= 1 && Grating <= 3)
            v.rbGrating[Grating - 1]->setChecked(true);
    });
    connect(&p, &SpectrographPanel::gratingRowsShown, this, [&v](int Count) {
        for (int row = 0; row < 3; ++row) {
            const bool fitted = row < Count;
            v.rbGrating[row]->setEnabled(fitted);
            v.txtGroove[row]->setEnabled(fitted);
            v.txtBlaze[row]->setEnabled(fitted);
        }
    });
    connect(&p, &SpectrographPanel::gratingTableShown, this, [this, Index] { showGratingTable(Index); });
    connect(&p, &SpectrographPanel::targetShown, this, [this, Index](double Nm) { showTarget(Index, Nm); });
    connect(&p, &SpectrographPanel::scanShown, this, [this, Index] { showScan(Index); });
    connect(&p, &SpectrographPanel::terminalReceived, this, [Index](const QByteArray& Bytes) {
        ExpertModeWindow* terminal = Index == 0 ? static_cast<ExpertModeWindow*>(frmExpertMode1)
                                                : static_cast<ExpertModeWindow*>(frmExpertMode2);
        if (terminal)
            terminal->AppendReceived(QString::fromLatin1(Bytes));
    });
    // Each panel's next search tries first the port where it last found its controller.
    p.setPreferredPort(consolesettings::lastPort(Index + 1) - 1);
    connect(&p, &SpectrographPanel::connectedOn, this, [&p, Index](int PortIndex) {
        p.setPreferredPort(PortIndex);
        consolesettings::setLastPort(Index + 1, PortIndex + 1);
    });
    // The box is expert mode, however it changes: a click, or the terminal closing.
    connect(v.cbExpertMode, &QCheckBox::toggled, &p, &SpectrographPanel::setExpert);
}

// ---- Start-up, shut-down, selector, log --------------------------------------------------------------

QString TfrmMain::chooseLogFolder() const {
    const QDir programDir(QCoreApplication::applicationDirPath());
    // An installed program (one in a "bin" folder, /usr/bin and the like) never writes beside itself, not
    // even when it could (as root): its log goes to the user's state folder.
    if (programDir.dirName() != QLatin1String("bin")) {
        const QString besideProgram = programDir.filePath(QStringLiteral("Logs"));
        QDir dir;
        if (!QFileInfo::exists(besideProgram))
            dir.mkdir(besideProgram); // one level; a failure shows below
        const QFileInfo info(besideProgram);
        if (info.isDir() && info.isWritable())
            return besideProgram;
    }
    // A program folder that is not writable: keep the log in the user's state folder instead.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::home().filePath(QStringLiteral(".local/state"));
    const QString fallback = QDir(state).filePath(QStringLiteral("Orvane/Logs"));
    QDir().mkpath(fallback);
    return fallback;
}

void TfrmMain::FormCreate() {
    rgSelectionItems->button(0)->setChecked(true);
    FLogFolder = chooseLogFolder();
    LogFile->SetLogPath(FLogFolder);
    LogFile->SetFileName(QStringLiteral("log.txt"));
    // A second console logging into the same folder writes log_yyyy_mm_dd-2.txt: never one file for two.
    LogFile->SetDateFormat(QStringLiteral("yyyy_mm_dd") + SingleInstance::logFileMark(FLogFolder));
    try {
        LogFile->SetActive(true);
    } catch (const OrvaneError&) {
        reportLogFault(); // the lines wait in memory until the file can be opened
    }
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TfrmMain::FormShow() {
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    rgSelectionItems->button(0)->setChecked(true);
    gbSpectroGraph1->setEnabled(true);
    gbSpectroGraph2->setEnabled(false);
    panel(0).setEnabled(true);
    panel(1).setEnabled(false);
    CalcScanParams1();
    if (const QString notice = consolesettings::startNotice(); !notice.isEmpty())
        AddLog(0, notice);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    runGuarded([this] { FormClose(); });
    event->accept();
}

void TfrmMain::FormClose() {
    panel(0).comm()->Purge();
    panel(0).comm()->CloseComm();
    // No timer of either panel runs on from here; spectrograph 2's port closes with its panel.
    panel(0).shutDown();
    panel(1).shutDown();
    try {
        LogFile->SetActive(false);
    } catch (const OrvaneError& error) {
        if (!FLogFaultShown)
            throw;
        // Already told; a message box now would hold up a shutdown or a logout.
        qWarning("%s", error.what());
    }
}

void TfrmMain::btnCloseClick() {
    close();
}

void TfrmMain::rgSelectionClick() {
    const int item = rgSelectionItems->checkedId();
    gbSpectroGraph1->setEnabled(item == 0 || item == 2);
    gbSpectroGraph2->setEnabled(item == 1 || item == 2);
    panel(0).setEnabled(item == 0 || item == 2);
    panel(1).setEnabled(item == 1 || item == 2);
    emit panelChanged(0);
    emit panelChanged(1);
}

void TfrmMain::AddLog1(const QString& Text) {
    AddLog(0, Text);
}
void TfrmMain::AddLog2(const QString& Text) {
    AddLog(1, Text);
}

// Through the panel, which keeps its last line.
void TfrmMain::AddLog(int Index, const QString& Text) {
    panel(Index).log(Text);
}

void TfrmMain::writeLog(int Index, const QString& Text) {
    emit panelChanged(Index);
    FViews[Index].memoLog->AppendLine(Text);
    // A log file that cannot be written never stops a command, a reply or a scan: its lines are held and
    // written once it can take them, and the user hears of it once.
    try {
        LogFile->WriteLine(Text);
    } catch (const OrvaneError&) {
        reportLogFault();
        return;
    }
    // The log's own once-a-second flush may have met the fault first; it is told here all the same.
    if (LogFile->Faulted())
        reportLogFault();
    else
        FLogFaultShown = false; // written again: a new fault gets a new message
}

void TfrmMain::reportLogFault() {
    if (FLogFaultShown)
        return;
    FLogFaultShown = true;
    const QString text =
        QStringLiteral("The log file \"%1\" cannot be written: %2.\n%3 lines are held in memory "
                       "and go to the file as soon as it can take them.")
            .arg(LogFile->FullPath(), LogFile->FaultReason())
            .arg(LogFile->HeldLines());
    // Not modal: a scan left running overnight goes on while the message waits for someone to read it.
    if (!FLogFaultBox) {
        FLogFaultBox = new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(), text,
                                       QMessageBox::Ok, this);
        FLogFaultBox->setWindowModality(Qt::NonModal);
        FLogFaultBox->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        FLogFaultBox->setText(text);
    }
    FLogFaultBox->show();
}

void TfrmMain::memoLog1Change() {
    memoLogChange(0);
}
void TfrmMain::memoLog2Change() {
    memoLogChange(1);
}

void TfrmMain::memoLogChange(int Index) {
    QPlainTextEdit* pane = FViews[Index].memoLog;
    if (pane->blockCount() > LogPaneLineLimit)
        pane->clear();
}

// ---- The view of a panel ---------------------------------------------------------------------------

void TfrmMain::showPanel(int Index) {
    const SpectrographPanel& p = panel(Index);
    const PanelView& v = FViews[Index];
    v.btnComm->LED()->SetValue(p.connected());
    v.btnMove->setText(p.moveCaption() ? QStringLiteral("MOVING") : QStringLiteral("MOVE"));
    v.btnScan->setText(p.scanState() == 1   ? QStringLiteral("PAUSE")
                       : p.scanState() == 2 ? QStringLiteral("CONTINUE")
                                            : QStringLiteral("SCAN"));
    emit panelChanged(Index);
}

// The label's accessible name says what it is ("Controller name"); a screen reader finds what it shows
// in the description, as it does the readout's value.
void TfrmMain::showName(int Index, const QString& Text) {
    QLabel* label = FViews[Index].lblName;
    label->setText(Text);
    label->setAccessibleDescription(Text);
}

void TfrmMain::showGratingTable(int Index) {
    const TSpectrographInfo& info = panel(Index).info();
    const PanelView& v = FViews[Index];
    for (int row = 0; row < 3; ++row) {
        v.txtGroove[row]->setText(formatInt(info.Gratings[row].Groove));
        v.txtBlaze[row]->setText(formatGeneral(info.Gratings[row].Blaze));
    }
}

void TfrmMain::showTarget(int Index, double Nm) {
    FViews[Index].txtMoveWavelength->setText(formatGeneral(Nm));
}

void TfrmMain::showJogStep(int Index, double Step) {
    FViews[Index].txtJogStep->setText(formatGeneral(Step));
}

void TfrmMain::showGratingChoice(int Index, int Grating) {
    if (Grating >= 1 && Grating <= 3)
        FViews[Index].rbGrating[Grating - 1]->setChecked(true);
}

void TfrmMain::showScan(int Index) {
    const TScanParameters& s = panel(Index).scan();
    const PanelView& v = FViews[Index];
    writeBack(v.txtScanPointTime, formatGeneral(s.PointTime / 1000));
    writeBack(v.txtScanStart, formatGeneral(s.Start));
    writeBack(v.txtScanEnd, formatGeneral(s.End));
    writeBack(v.txtScanPointRes, formatGeneral(s.Resolution));
    writeBack(v.txtScanPointCount, formatInt(s.PointCount));
    writeBack(v.txtScanTime, formatGeneral(s.Time));
    writeBack(v.txtScanPeriodCount, formatInt(s.PeriodCount));
}

void TfrmMain::refused(int Index, const QString& Why) {
    if (!Why.isEmpty())
        AddLog(Index, Why);
}

// ---- Controller protocol: the panel's, under the names the window binds -----------------------------

void TfrmMain::SendCommand1(TCommandKind Kind) {
    panel(0).sendCommand(Kind);
}
void TfrmMain::SendCommand2(TCommandKind Kind) {
    panel(1).sendCommand(Kind);
}
void TfrmMain::Comm1EventCharReceived(QObject*, int ACount) {
    panel(0).eventCharReceived(ACount);
}
void TfrmMain::Comm2EventCharReceived(QObject*, int ACount) {
    panel(1).eventCharReceived(ACount);
}
void TfrmMain::Comm1Received(QObject*, int ACount) {
    panel(0).received(ACount);
}
void TfrmMain::Comm2Received(QObject*, int ACount) {
    panel(1).received(ACount);
}
void TfrmMain::tmrConnect1Timer() {
    panel(0).connectTick();
}
void TfrmMain::tmrConnect2Timer() {
    panel(1).connectTick();
}
void TfrmMain::tmrScanTime1Timer() {
    panel(0).scanTick();
}
void TfrmMain::tmrScanTime2Timer() {
    panel(1).scanTick();
}

// ---- Clicks ------------------------------------------------------------------------------------------

void TfrmMain::btnComm1Click() {
    btnCommClick(0);
}
void TfrmMain::btnComm2Click() {
    btnCommClick(1);
}
void TfrmMain::btnCommClick(int Index) {
    refused(Index, panel(Index).commClick());
}

void TfrmMain::bntInitialize1Click() {
    bntInitializeClick(0);
}
void TfrmMain::bntInitialize2Click() {
    bntInitializeClick(1);
}
void TfrmMain::bntInitializeClick(int Index) {
    refused(Index, panel(Index).initialize());
}

void TfrmMain::btnMove1Click() {
    btnMoveClick(0);
}
void TfrmMain::btnMove2Click() {
    btnMoveClick(1);
}

// MOVE goes to the typed wavelength on the grating the radio buttons choose: the user's choice.
void TfrmMain::btnMoveClick(int Index) {
    const PanelView& v = FViews[Index];
    const int grating = v.rbGrating[0]->isChecked() ? 1 : v.rbGrating[1]->isChecked() ? 2 : 3;
    refused(Index, panel(Index).moveWithGrating(grating, typedNumber(v.txtMoveWavelength)));
}

// STOP beside MOVE stops nothing: the controller has no command that halts a move and answers for it.
void TfrmMain::btnMoveStop1Click() {}
void TfrmMain::btnMoveStop2Click() {}

void TfrmMain::btnJogPlus1Click() {
    btnJogClick(0, +1);
}
void TfrmMain::btnJogPlus2Click() {
    btnJogClick(1, +1);
}
void TfrmMain::btnJogMinus1Click() {
    btnJogClick(0, -1);
}
void TfrmMain::btnJogMinus2Click() {
    btnJogClick(1, -1);
}

// A jog goes from the typed target, not from the reported position.
void TfrmMain::btnJogClick(int Index, int Direction) {
    const PanelView& v = FViews[Index];
    const double step = typedNumber(v.txtJogStep);
    refused(Index, panel(Index).jog(typedNumber(v.txtMoveWavelength), Direction > 0 ? step : -step));
}

// ---- Expert mode -------------------------------------------------------------------------------------

void TfrmMain::cbExpertMode1Click() {
    cbExpertModeClick(0);
}
void TfrmMain::cbExpertMode2Click() {
    cbExpertModeClick(1);
}

void TfrmMain::cbExpertModeClick(int Index) {
    QWidget* terminal =
        Index == 0 ? static_cast<QWidget*>(frmExpertMode1) : static_cast<QWidget*>(frmExpertMode2);
    if (!terminal)
        return;
    terminal->show();
    terminal->raise();
    terminal->activateWindow();
}

// ---- Wavelength scans --------------------------------------------------------------------------------

void TfrmMain::connectCommit(QLineEdit* Edit, void (TfrmMain::*Handler)()) {
    Edit->setProperty(CommittedTextProperty, Edit->text());
    // editingFinished also comes when the user only passes through a field; only a changed text commits.
    connect(Edit, &QLineEdit::editingFinished, this, guarded([this, Edit, Handler] {
                const QString text = Edit->text();
                if (text == Edit->property(CommittedTextProperty).toString())
                    return;
                Edit->setProperty(CommittedTextProperty, text);
                (this->*Handler)();
            }));
}

TScanInput TfrmMain::scanInput(int Index) const {
    const PanelView& v = FViews[Index];
    TScanInput in;
    in.Start = StrToFloatDefault(v.txtScanStart->text(), 0);
    in.End = StrToFloatDefault(v.txtScanEnd->text(), 0);
    in.Resolution = StrToFloatDefault(v.txtScanPointRes->text(), 0);
    in.Time = StrToFloatDefault(v.txtScanTime->text(), 0);
    in.PeriodCount = parseIntDefault(v.txtScanPeriodCount->text(), 0);
    return in;
}

void TfrmMain::CalcScanParams1() {
    CalcScanParams(0);
}
void TfrmMain::CalcScanParams2() {
    CalcScanParams(1);
}
// A resolution of 0 fails as a division by zero, which the general error handler shows.
void TfrmMain::CalcScanParams(int Index) {
    panel(Index).calcScanParams(scanInput(Index));
}

void TfrmMain::txtScanStart1PropertiesEditValueChanged() {
    CalcScanParams1();
}
void TfrmMain::txtScanStart2PropertiesEditValueChanged() {
    CalcScanParams2();
}
void TfrmMain::txtScanEnd1PropertiesEditValueChanged() {
    CalcScanParams1();
}
void TfrmMain::txtScanEnd2PropertiesEditValueChanged() {
    CalcScanParams2();
}
void TfrmMain::txtScanPointRes1PropertiesEditValueChanged() {
    CalcScanParams1();
}
void TfrmMain::txtScanPointRes2PropertiesEditValueChanged() {
    CalcScanParams2();
}
void TfrmMain::txtScanPointCount1PropertiesEditValueChanged() {
    CalcScanParams1();
}
void TfrmMain::txtScanPointCount2PropertiesEditValueChanged() {
    CalcScanParams2();
}
void TfrmMain::txtScanTime1PropertiesEditValueChanged() {
    CalcScanParams1();
}
void TfrmMain::txtScanTime2PropertiesEditValueChanged() {
    CalcScanParams2();
}

void TfrmMain::btnScan1Click() {
    btnScanClick(0);
}
void TfrmMain::btnScan2Click() {
    btnScanClick(1);
}

// SCAN, PAUSE or CONTINUE, as the caption says.
void TfrmMain::btnScanClick(int Index) {
    SpectrographPanel& p = panel(Index);
    switch (p.scanState()) {
    case 0:
        refused(Index, p.startScan(scanInput(Index)));
        break;
    case 1:
        refused(Index, p.pauseScan());
        break;
    default:
        refused(Index, p.resumeScan());
        break;
    }
}

void TfrmMain::btnScanStop1Click() {
    btnScanStopClick(0);
}
void TfrmMain::btnScanStop2Click() {
    btnScanStopClick(1);
}
// STOP with no scan running has nothing to do and says nothing.
void TfrmMain::btnScanStopClick(int Index) {
    panel(Index).stopScan();
}
