#include "fMain.h"

#include "ui_fMain.h"

#include "ImageList.h"
#include "KivButton.h"
#include "KivColor.h"
#include "KivComm.h"
#include "KivCommon.h"
#include "KivFrame.h"
#include "KivIndicator.h"
#include "KivLEDBtn.h"
#include "KivPortAccess.h"
#include "KivStrUtils.h"
#include "LightTheme.h"
#include "LogMemo.h"
#include "OrvaneApplication.h"
#include "OrvaneErrors.h"
#include "PreciseTimer.h"
#include "RepaintPacer.h"
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
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <cerrno>

TfrmMain* frmMain = nullptr;

namespace {

// The value of a reply field "key=value": the text between the first and a second "=". A field without
// "=" has no value, and the caller keeps what it had.
bool fieldValue(const QString& Token, QString& Value) {
    QStringList parts;
    SplitTokens(Token, u"=", parts);
    if (parts.size() < 2)
        return false;
    Value = parts[1];
    return true;
}

void readInt(const QString& Token, int& Field) {
    QString value;
    if (fieldValue(Token, value))
        Field = parseIntDefault(value, 0);
}

// A controller's firmware knows nothing of the user's settings: the numbers of its commands and replies
// always carry a full stop.
constexpr QStringView WireSeparator = u".";

QString wireNumber(double Value) {
    return formatGeneral(Value, WireSeparator);
}

void readReal(const QString& Token, double& Field) {
    QString value;
    if (fieldValue(Token, value))
        Field = StrToFloatDefault(value, 0, WireSeparator);
}

void readText(const QString& Token, QString& Field) {
    QString value;
    if (fieldValue(Token, value))
        Field = value;
}

// The blaze comes with its unit ("500nm"): the number is the value without its last two characters.
void readBlaze(const QString& Token, double& Field) {
    QString value;
    if (fieldValue(Token, value))
        Field = value.size() < 2 ? 0 : StrToFloatDefault(QStringView(value).chopped(2), 0, WireSeparator);
}

constexpr int ConnectPortCount = 22;    // "COM1" to "COM22"
constexpr int LogPaneLineLimit = 10000; // the pane is emptied at the line after

} // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmMain>()) {
    ui->setupUi(this);
    setupComponents();
    setupDesignTimeSettings();
    connectHandlers();
    new RepaintPacer(this);
    runGuarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
    if (frmMain == this)
        frmMain = nullptr;
    FollowApplicationPalette();
}

QPalette TfrmMain::lightPalette() {
    // Not Fusion's standard palette: under a dark GTK theme it turns dark with the desktop.
    return LightPalette();
}

TfrmMain::Fields TfrmMain::fields(int Index) {
    if (Index == 0)
        return {FConnectStep1,      FPortIndex1, FReply1,     FCommand1,
                FTargetWavelength1, FBusy1,      FScanState1, FScanStep1};
    return {FConnectStep2,      FPortIndex2, FReply2,     FCommand2,
            FTargetWavelength2, FBusy2,      FScanState2, FScanStep2};
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

    // Non-visual components of the form.
    Comm1 = new TKivComm(this);
    Comm1->setObjectName(QStringLiteral("Comm1"));
    Comm2 = new TKivComm(this);
    Comm2->setObjectName(QStringLiteral("Comm2"));
    auto makeTimer = [this](const char* name, int interval) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QLatin1String(name));
        timer->setInterval(interval);
        return timer;
    };
    tmrConnect1 = makeTimer("tmrConnect1", 1000);
    tmrConnect2 = makeTimer("tmrConnect2", 1000);
    auto makeScanTimer = [this](const char* name) {
        auto* timer = new PreciseTimer(this);
        timer->setObjectName(QLatin1String(name));
        timer->setInterval(10);
        return timer;
    };
    tmrScanTime1 = makeScanTimer("tmrScanTime1");
    tmrScanTime2 = makeScanTimer("tmrScanTime2");
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

    FPanels[0] = {gbSpectroGraph1,
                  btnComm1,
                  lblName1,
                  bntInitialize1,
                  meterCurrWavelength1,
                  {rbGrating11, rbGrating12, rbGrating13},
                  {txtGroove11, txtGroove12, txtGroove13},
                  {txtBlaze11, txtBlaze12, txtBlaze13},
                  txtMoveWavelength1,
                  btnMove1,
                  btnMoveStop1,
                  btnJogMinus1,
                  btnJogPlus1,
                  txtJogStep1,
                  cbExpertMode1,
                  memoLog1,
                  Comm1,
                  tmrConnect1};
    FPanels[1] = {gbSpectroGraph2,
                  btnComm2,
                  lblName2,
                  bntInitialize2,
                  meterCurrWavelength2,
                  {rbGrating21, rbGrating22, rbGrating23},
                  {txtGroove21, txtGroove22, txtGroove23},
                  {txtBlaze21, txtBlaze22, txtBlaze23},
                  txtMoveWavelength2,
                  btnMove2,
                  btnMoveStop2,
                  btnJogMinus2,
                  btnJogPlus2,
                  txtJogStep2,
                  cbExpertMode2,
                  memoLog2,
                  Comm2,
                  tmrConnect2};
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

    for (TKivComm* comm : {Comm1, Comm2}) {
        comm->SetEventChar('*');
        comm->SetBinaryMode(true);
        comm->SetCheckParity(false);
        comm->SetDiscardNull(true);
        comm->SetCommEvents(TCommEvents{EVRXCHAR, EVRXFLAG, EVTXEMPTY});
        comm->SetPriority(tpNormal);
        comm->SetMonitorInterval(1000);
    }
    Comm1->SetPort(COM04);

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
        Panel& p = FPanels[i];
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
    connect(tmrConnect1, &QTimer::timeout, this, guarded([this] { tmrConnect1Timer(); }));
    connect(tmrConnect2, &QTimer::timeout, this, guarded([this] { tmrConnect2Timer(); }));

    // The serial components raise their events on this thread; a handler's error goes to the general
    // error handler like that of any other handler.
    Comm1->OnEventCharReceived = guarded([this](QObject* s, int n) { Comm1EventCharReceived(s, n); });
    Comm2->OnEventCharReceived = guarded([this](QObject* s, int n) { Comm2EventCharReceived(s, n); });
    Comm1->OnReceived = guarded([this](QObject* s, int n) { Comm1Received(s, n); });
    Comm2->OnReceived = guarded([this](QObject* s, int n) { Comm2Received(s, n); });
    for (int index : {0, 1}) {
        TKivComm* comm = panel(index).Comm;
        comm->OnCommError =
            guarded([this, index](QObject*, int code, const QString& desc) { CommError(index, code, desc); });
        // Raised on the receive thread: nothing here but handing the message to this thread.
        comm->OnMessage = [this, index](QObject*, const QString& msg) { CommMessage(index, msg); };
        comm->OnOpenStatus = [this, index](QObject*, bool open) {
            if (!open) {
                ++FOpenGeneration[index];
                FPortFaults[index].overflowQueued = false; // what was queued for this port is dropped
            }
        };
    }
    connectScanHandlers();
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
    FScanLock1 = std::make_unique<std::recursive_mutex>();
    FScanLock2 = std::make_unique<std::recursive_mutex>();
    rgSelectionItems->button(0)->setChecked(true);
    FLogFolder = chooseLogFolder();
    LogFile->SetLogPath(FLogFolder);
    LogFile->SetFileName(QStringLiteral("log.txt"));
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
    CalcScanParams1();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    runGuarded([this] { FormClose(); });
    event->accept();
}

void TfrmMain::FormClose() {
    Comm1->Purge();
    Comm1->CloseComm();
    FScanLock1.reset();
    FScanLock2.reset();
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
    emit panelChanged(0);
    emit panelChanged(1);
}

void TfrmMain::AddLog1(const QString& Text) {
    AddLog(0, Text);
}
void TfrmMain::AddLog2(const QString& Text) {
    AddLog(1, Text);
}

void TfrmMain::AddLog(int Index, const QString& Text) {
    FLastLogLine[Index] = Text;
    emit panelChanged(Index);
    panel(Index).memoLog->AppendLine(Text);
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
    QPlainTextEdit* pane = panel(Index).memoLog;
    if (pane->blockCount() > LogPaneLineLimit)
        pane->clear();
}

// ---- Controller protocol -----------------------------------------------------------------------------

void TfrmMain::SendCommand1(TCommandKind Kind) {
    SendCommand(0, Kind);
}
void TfrmMain::SendCommand2(TCommandKind Kind) {
    SendCommand(1, Kind);
}

void TfrmMain::SendCommand(int Index, TCommandKind Kind) {
    emit panelChanged(Index);
    Panel& p = panel(Index);
    Fields f = fields(Index);
    if (Kind == ckMove || Kind == ckStop || Kind == ckSelectGrating || Kind == ckInitialize)
        f.FBusy = true;
    f.FReply.clear();
    p.Comm->Purge();
    FPortFaults[Index].overflowTold = false;
    QByteArray command;
    QString target; // the move's wavelength as sent and as logged
    switch (Kind) {
    case ckStatus:
        command = "IA";
        break;
    case ckInfo:
        command = "IB";
        break;
    case ckMove:
        target = wireNumber(f.FTargetWavelength);
        command = "GU" + target.toLatin1();
        break;
    case ckStop:
        command = "GX";
        break;
    case ckSelectGrating: {
        const int grating = p.rbGrating[0]->isChecked() ? 1 : p.rbGrating[1]->isChecked() ? 2 : 3;
        command = "GS" + QByteArray::number(grating);
        break;
    }
    case ckInitialize:
        command = "GA";
        break;
    }
    command += '\r';
    // The kind is recorded whatever happens to the write or the log line, so the reply is read as its own.
    struct Record {
        TCommandKind& command;
        TCommandKind kind;
        ~Record() { command = kind; }
    } record{f.FCommand, Kind};
    p.Comm->WriteData(command);
    if (Kind == ckMove)
        AddLog(Index, QStringLiteral("Moving To ") + target);
    else if (Kind == ckInitialize)
        AddLog(Index, QStringLiteral("Initialization ...."));
}

void TfrmMain::Comm1EventCharReceived(QObject*, int ACount) {
    CommEventCharReceived(0, ACount);
}
void TfrmMain::Comm2EventCharReceived(QObject*, int ACount) {
    CommEventCharReceived(1, ACount);
}

void TfrmMain::CommEventCharReceived(int Index, int ACount) {
    emit panelChanged(Index);
    Panel& p = panel(Index);
    Fields f = fields(Index);
    if (p.cbExpertMode->isChecked())
        return; // the terminal reads the port
    auto readReply = [&] {
        f.FReply = p.Comm->ReadData(ACount);
        return QString::fromLatin1(f.FReply);
    };
    switch (f.FCommand) {
    case ckStatus:
        ParseStatusReply(Index, readReply());
        f.FBusy = false;
        break;
    case ckInfo:
        ParseInfoReply(Index, readReply());
        break;
    case ckMove: {
        // The panel and a scan waiting for this reply are released whatever happens below.
        struct Release {
            TfrmMain* window;
            int index;
            ~Release() { window->releaseMove(index); }
        } release{this, Index};
        ParsePositionReply(Index, readReply());
        AddLog(Index, QStringLiteral("Moving Ok"));
        break;
    }
    case ckStop:
        break; // left queued until the next command's purge
    case ckSelectGrating:
        DelayMs(300);
        readReply();
        SendCommand(Index, ckMove);
        break;
    case ckInitialize:
        readReply();
        AddLog(Index, QStringLiteral("Initialization Ok"));
        SendCommand(Index, ckStatus);
        break;
    }
}

void TfrmMain::ParseStatusReply(int Index, const QString& Text) {
    TSpectrographInfo& s = FSpectrograph[Index];
    Panel& p = panel(Index);
    QStringList tokens;
    SplitTokens(Text, u"/", tokens);
    if (tokens.size() > 5) {
        readInt(tokens[0], s.StatusValue0);
        readInt(tokens[1], s.CurrentGrating);
        readInt(tokens[2], s.StatusValue2);
        readReal(tokens[3], s.CurrentWavelength);
        readInt(tokens[4], s.StatusValue4);
    }
    showName(Index, s.Name);
    if (s.CurrentGrating >= 1 && s.CurrentGrating <= 3)
        p.rbGrating[s.CurrentGrating - 1]->setChecked(true);
    p.meterCurrWavelength->SetValue(s.CurrentWavelength);
}

void TfrmMain::ParsePositionReply(int Index, const QString& Text) {
    TSpectrographInfo& s = FSpectrograph[Index];
    QStringList tokens;
    SplitTokens(Text, u"/", tokens);
    if (tokens.size() >= 2)
        readReal(tokens[1], s.CurrentWavelength);
    panel(Index).meterCurrWavelength->SetValue(s.CurrentWavelength);
}

void TfrmMain::ParseInfoReply(int Index, const QString& Text) {
    TSpectrographInfo& s = FSpectrograph[Index];
    Panel& p = panel(Index);
    QStringList tokens;
    SplitTokens(Text, u"/", tokens);
    if (tokens.size() <= 4)
        return;
    readText(tokens[0], s.Name);
    readText(tokens[1], s.InfoText1);
    readInt(tokens[2], s.InfoValue2);
    readInt(tokens[3], s.GratingCount);
    readInt(tokens[4], s.InfoValue4);
    showName(Index, s.Name);
    if (s.GratingCount >= 1 && s.GratingCount <= 3)
        for (int row = 0; row < 3; ++row) {
            const bool fitted = row < s.GratingCount;
            p.rbGrating[row]->setEnabled(fitted);
            p.txtGroove[row]->setEnabled(fitted);
            p.txtBlaze[row]->setEnabled(fitted);
        }
    // Only whole grating blocks are read: a short reply or a count beyond the table never reads past the
    // reply's tokens or writes past the table.
    constexpr int blockSize = 11;
    const int gratings = std::min<int>(s.GratingCount, static_cast<int>(s.Gratings.size()));
    for (int g = 0; g < gratings; ++g) {
        const int first = 5 + blockSize * g;
        if (first + 9 >= tokens.size())
            break;
        TGratingInfo& info = s.Gratings[g];
        readInt(tokens[first + 0], info.Value0);
        readInt(tokens[first + 1], info.Value1);
        readInt(tokens[first + 2], info.Groove);
        readBlaze(tokens[first + 3], info.Blaze);
        readInt(tokens[first + 4], info.Value4);
        readInt(tokens[first + 5], info.Value5);
        readReal(tokens[first + 6], info.Value6);
        readInt(tokens[first + 7], info.Value7);
        readReal(tokens[first + 8], info.Value8);
        readInt(tokens[first + 9], info.Value9);
    }
    for (int row = 0; row < 3; ++row) {
        p.txtGroove[row]->setText(formatInt(s.Gratings[row].Groove));
        p.txtBlaze[row]->setText(formatGeneral(s.Gratings[row].Blaze));
    }
}

// ---- Connection search -------------------------------------------------------------------------------

// The label's accessible name says what it is ("Controller name"); a screen reader finds what it shows
// in the description, as it does the readout's value.
void TfrmMain::showName(int Index, const QString& Text) {
    QLabel* label = panel(Index).lblName;
    label->setText(Text);
    label->setAccessibleDescription(Text);
}

bool TfrmMain::lampOn(int Index) {
    return panel(Index).btnComm->LED()->Value();
}
void TfrmMain::setLamp(int Index, bool On) {
    panel(Index).btnComm->LED()->SetValue(On);
}

void TfrmMain::btnComm1Click() {
    btnCommClick(0);
}
void TfrmMain::btnComm2Click() {
    btnCommClick(1);
}

void TfrmMain::btnCommClick(int Index) {
    Panel& p = panel(Index);
    Fields f = fields(Index);
    if (lampOn(Index)) {
        if (f.FScanState != 0)
            btnScanStopClick(Index); // no scan goes on without its port
        p.Comm->Purge();
        DelayMs(300);
        p.Comm->CloseComm();
        setLamp(Index, false);
        showName(Index, QStringLiteral("Disconnected"));
        AddLog(Index, QStringLiteral("Disconnect comm."));
        return;
    }
    if (!p.tmrConnect->isActive())
        p.tmrConnect->start();
    f.FPortIndex = 0;
    f.FConnectStep = 1;
    permissionReported[Index] = false;
    AddLog(Index, QStringLiteral("Try to connect..."));
}

void TfrmMain::tmrConnect1Timer() {
    tmrConnectTimer(0);
}
void TfrmMain::tmrConnect2Timer() {
    tmrConnectTimer(1);
}

void TfrmMain::tmrConnectTimer(int Index) {
    emit panelChanged(Index);
    Panel& p = panel(Index);
    Fields f = fields(Index);
    switch (f.FConnectStep) {
    case 1: {
        p.Comm->Purge();
        p.Comm->CloseComm();
        DelayMs(100);
        p.Comm->SetPort(static_cast<TPort>(f.FPortIndex));
        p.Comm->OpenComm();
        const int openError = p.Comm->LastOpenError();
        p.Comm->Purge();
        SendCommand(Index, ckStatus);
        AddLog(Index, QStringLiteral("Try to connect COM%1").arg(f.FPortIndex + 1));
        reportRefusedPort(Index, openError);
        f.FConnectStep = 2;
        break;
    }
    case 2:
        if (!f.FReply.isEmpty()) {
            f.FConnectStep = 3;
        } else if (++f.FPortIndex < ConnectPortCount) {
            f.FConnectStep = 1;
        } else {
            f.FConnectStep = 4;
        }
        break;
    case 3:
        AddLog(Index, QStringLiteral("Connection Successs. COM%1").arg(f.FPortIndex + 1));
        SendCommand(Index, ckInfo);
        p.tmrConnect->stop();
        setLamp(Index, true);
        FPortFaults[Index].lost = false;
        p.txtMoveWavelength->setText(formatGeneral(p.meterCurrWavelength->Value()));
        f.FConnectStep = 0;
        break;
    case 4:
        AddLog(Index, QStringLiteral("Connection failure!!!"));
        p.Comm->CloseComm();
        p.tmrConnect->stop();
        setLamp(Index, false);
        f.FConnectStep = 0;
        break;
    default:
        break;
    }
}

// ---- Port faults ------------------------------------------------------------------------------------

void TfrmMain::CommError(int Index, int ErrCode, const QString& ErrDesc) {
    if (!panel(Index).Comm->PortOpened())
        return; // a port that would not open: the search goes on with the next one
    if (ErrCode == int(KivCommBits::CE_IOE)) {
        handlePortFaultLater(Index, [this, Index, ErrDesc] { connectionLost(Index, ErrDesc); });
    } else if (ErrCode == int(KivCommBits::CE_RXOVER) && !FPortFaults[Index].overflowQueued) {
        FPortFaults[Index].overflowQueued = true; // cleared when it is handled or the port closes
        handlePortFaultLater(Index, [this, Index, ErrDesc] {
            FPortFaults[Index].overflowQueued = false;
            inputOverflow(Index, ErrDesc);
        });
    }
}

// On the receive thread: its port is gone (hang-up, a device error) and the thread has ended.
void TfrmMain::CommMessage(int Index, const QString& Msg) {
    handlePortFaultLater(Index, [this, Index, Msg] { connectionLost(Index, Msg); });
}

// Handled on this thread once the current handler is done: a write fails inside SendCommand, whose caller
// (a click, a scan tick) would otherwise undo the release when it goes on. A fault reported for a port
// that has since been closed is not applied to the next one.
void TfrmMain::handlePortFaultLater(int Index, std::function<void()> Handler) {
    const int generation = FOpenGeneration[Index];
    QMetaObject::invokeMethod(
        this,
        [this, Index, generation, Handler = std::move(Handler)] {
            if (generation == FOpenGeneration[Index])
                runGuarded(Handler);
        },
        Qt::QueuedConnection);
}

// The panel stops waiting for a reply: MOVE is free again, and a scan waiting for its point goes on.
void TfrmMain::releaseMove(int Index) {
    emit panelChanged(Index);
    Fields f = fields(Index);
    f.FBusy = false;
    panel(Index).btnMove->setText(QStringLiteral("MOVE"));
    if (f.FScanStep == 2)
        f.FScanStep = 1;
}

// The panel goes to its disconnected state, as after COMM.: port closed, lamp off, "Disconnected"; a
// running scan ends as STOP ends it, a pending move is given up. COMM. searches again.
void TfrmMain::connectionLost(int Index, const QString& Reason) {
    Panel& p = panel(Index);
    Fields f = fields(Index);
    if (!p.Comm->PortOpened())
        return;
    PortFault& fault = FPortFaults[Index];
    fault.lost = true;
    fault.reason = Reason;
    const QString port = p.Comm->PortName();
    p.Comm->CloseComm();
    if (f.FScanState != 0)
        btnScanStopClick(Index);
    releaseMove(Index);
    if (!p.tmrConnect->isActive()) {
        setLamp(Index, false);
        showName(Index, QStringLiteral("Disconnected"));
    } // else the search goes on with the next port
    AddLog(Index, QStringLiteral("Connection lost. %1 (%2)").arg(port, Reason));
}

// The input queue had no room for what the controller sent: a reply that did not fit can never end, so
// the panel stops waiting for it. The bytes stay until the next command's purge, as in the driver's queue.
void TfrmMain::inputOverflow(int Index, const QString& Reason) {
    Panel& p = panel(Index);
    Fields f = fields(Index);
    const QString port = p.Comm->PortName();
    if (f.FBusy) {
        releaseMove(Index);
        AddLog(Index, QStringLiteral("Reply lost. %1 (%2)").arg(port, Reason));
        return;
    }
    // A flood while nothing is awaited: said once, until the next command empties the queue.
    PortFault& fault = FPortFaults[Index];
    if (fault.overflowTold)
        return;
    fault.overflowTold = true;
    AddLog(Index, QStringLiteral("Input overflow. %1 (%2)").arg(port, Reason));
}

// A port that exists but refuses us looks like an empty one to the search; say which it was, once per
// search, and what usually cures it.
void TfrmMain::reportRefusedPort(int Index, int OpenError) {
    if ((OpenError != EACCES && OpenError != EPERM) || permissionReported[Index])
        return;
    permissionReported[Index] = true;
    TKivComm* comm = panel(Index).Comm;
    AddLog(Index, refusedPortLine(comm->PortName(), TKivComm::DeviceForPort(comm->PortName())));
}

// ---- Motion ------------------------------------------------------------------------------------------

void TfrmMain::bntInitialize1Click() {
    bntInitializeClick(0);
}
void TfrmMain::bntInitialize2Click() {
    bntInitializeClick(1);
}

void TfrmMain::bntInitializeClick(int Index) {
    fields(Index).FBusy = false;
    SendCommand(Index, ckInitialize);
}

void TfrmMain::btnMove1Click() {
    btnMoveClick(0);
}
void TfrmMain::btnMove2Click() {
    btnMoveClick(1);
}

void TfrmMain::btnMoveClick(int Index) {
    Panel& p = panel(Index);
    Fields f = fields(Index);
    if (f.FBusy)
        return;
    f.FTargetWavelength = StrToFloatDefault(p.txtMoveWavelength->text(), 0);
    const int current = FSpectrograph[Index].CurrentGrating;
    if (current >= 1 && current <= 3) {
        if (p.rbGrating[current - 1]->isChecked())
            SendCommand(Index, ckMove);
        else
            SendCommand(Index, ckSelectGrating);
    }
    p.btnMove->setText(QStringLiteral("MOVING"));
}

// STOP beside MOVE stops nothing: the controller's stop command would leave the panel waiting for a move
// reply that it then ignores.
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

void TfrmMain::btnJogClick(int Index, int Direction) {
    Panel& p = panel(Index);
    Fields f = fields(Index);
    if (f.FBusy)
        return;
    f.FTargetWavelength = StrToFloatDefault(p.txtMoveWavelength->text(), 0);
    const double step = StrToFloatDefault(p.txtJogStep->text(), 0);
    f.FTargetWavelength = Direction > 0 ? step + f.FTargetWavelength : f.FTargetWavelength - step;
    p.txtMoveWavelength->setText(formatGeneral(f.FTargetWavelength));
    SendCommand(Index, ckMove);
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

void TfrmMain::Comm1Received(QObject*, int ACount) {
    CommReceived(0, ACount);
}
void TfrmMain::Comm2Received(QObject*, int ACount) {
    CommReceived(1, ACount);
}

void TfrmMain::CommReceived(int Index, int ACount) {
    Panel& p = panel(Index);
    if (!p.cbExpertMode->isChecked())
        return; // the bytes wait for the reply dispatcher
    const QByteArray bytes = p.Comm->ReadData(ACount);
    ExpertModeWindow* terminal = Index == 0 ? static_cast<ExpertModeWindow*>(frmExpertMode1)
                                            : static_cast<ExpertModeWindow*>(frmExpertMode2);
    if (terminal)
        terminal->AppendReceived(QString::fromLatin1(bytes));
}

// ---- Wavelength scans --------------------------------------------------------------------------------
// The scan parameters (range, resolution, time per point) and the scan run: one move per point, paced by
// the scan timer and by the controller's replies, repeated "No. of Scan" times.

#include "OrvaneErrors.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace {

// The text an edit had when it was last committed or written by the recompute: a commit is an edit that
// finished with a text different from it.
constexpr char CommittedTextProperty[] = "orvaneCommittedText";

// The time factor: 1000 for spectrograph 1, 2000 for spectrograph 2, so spectrograph 2's timer period is
// twice the time per point shown.
constexpr int scanTimeFactor(int Index) {
    return Index == 0 ? 1000 : 2000;
}

// The division of the recompute, failing as the floating-point unit would: x / 0 is a division by zero,
// 0 / 0 an invalid operation.
long double checkedDivide(long double Dividend, long double Divisor) {
    if (Divisor == 0) {
        if (Dividend == 0 || std::isnan(Dividend))
            throw DivisionByZeroError("Invalid floating point operation");
        throw DivisionByZeroError("Floating point division by zero");
    }
    return Dividend / Divisor;
}

// Rounds to the nearest integer, ties to even, whatever rounding mode is set; a count beyond the 32-bit
// range is held at its nearest end rather than cut to its low bits, so a huge count stays huge and keeps
// its sign.
int roundCount(long double Value) {
    if (std::isnan(Value))
        throw DivisionByZeroError("Invalid floating point operation");
    constexpr long double highest = std::numeric_limits<int>::max();
    constexpr long double lowest = std::numeric_limits<int>::min();
    if (Value >= highest)
        return std::numeric_limits<int>::max();
    if (Value <= lowest)
        return std::numeric_limits<int>::min();
    const long double below = std::floor(Value);
    const long double fraction = Value - below;
    long double rounded = below;
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(below, 2.0L) != 0))
        rounded = below + 1;
    return static_cast<int>(rounded);
}

// The timer period in whole milliseconds; QTimer takes an int, so a period past its range is held there.
int timerPeriodMs(double PointTime) {
    if (!(PointTime < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return std::max(0, static_cast<int>(PointTime));
}

void writeBack(QLineEdit* Edit, const QString& Text) {
    Edit->setProperty(CommittedTextProperty, Text);
    Edit->setText(Text);
}

} // namespace

TfrmMain::ScanFields TfrmMain::scanFields(int Index) {
    if (Index == 0)
        return {FScanStart1,         FScanEnd1,          FScanPointCount1,  FScanTime1,
                FScanResolution1,    FScanPointTime1,    FScanPeriodCount1, FScanPointIndex1,
                FScanPeriodIndex1,   FScanLock1,         txtScanStart1,     txtScanEnd1,
                txtScanPointRes1,    txtScanPointCount1, txtScanTime1,      txtScanPointTime1,
                txtScanPeriodCount1, btnScan1,           tmrScanTime1};
    return {FScanStart2,       FScanEnd2,           FScanPointCount2, FScanTime2,         FScanResolution2,
            FScanPointTime2,   FScanPeriodCount2,   FScanPointIndex2, FScanPeriodIndex2,  FScanLock2,
            txtScanStart2,     txtScanEnd2,         txtScanPointRes2, txtScanPointCount2, txtScanTime2,
            txtScanPointTime2, txtScanPeriodCount2, btnScan2,         tmrScanTime2};
}

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

void TfrmMain::connectScanHandlers() {
    connectCommit(txtScanStart1, &TfrmMain::txtScanStart1PropertiesEditValueChanged);
    connectCommit(txtScanStart2, &TfrmMain::txtScanStart2PropertiesEditValueChanged);
    connectCommit(txtScanEnd1, &TfrmMain::txtScanEnd1PropertiesEditValueChanged);
    connect(txtScanEnd2, &QLineEdit::textChanged, this,
            guarded([this](const QString&) { txtScanEnd2PropertiesChange(); }));
    connectCommit(txtScanPointRes1, &TfrmMain::txtScanPointRes1PropertiesEditValueChanged);
    connectCommit(txtScanPointRes2, &TfrmMain::txtScanPointRes2PropertiesEditValueChanged);
    connectCommit(txtScanPointCount1, &TfrmMain::txtScanPointCount1PropertiesEditValueChanged);
    connectCommit(txtScanPointCount2, &TfrmMain::txtScanPointCount2PropertiesEditValueChanged);
    connectCommit(txtScanTime1, &TfrmMain::txtScanTime1PropertiesEditValueChanged);
    connectCommit(txtScanTime2, &TfrmMain::txtScanTime2PropertiesEditValueChanged);

    auto click = [this](QAbstractButton* button, void (TfrmMain::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                guarded([this, handler](bool) { (this->*handler)(); }));
    };
    click(btnScan1, &TfrmMain::btnScan1Click);
    click(btnScan2, &TfrmMain::btnScan2Click);
    click(btnScanStop1, &TfrmMain::btnScanStop1Click);
    click(btnScanStop2, &TfrmMain::btnScanStop2Click);

    connect(tmrScanTime1, &PreciseTimer::timeout, this, guarded([this] { tmrScanTime1Timer(); }));
    connect(tmrScanTime2, &PreciseTimer::timeout, this, guarded([this] { tmrScanTime2Timer(); }));
}

// ---- Scan parameters ----

void TfrmMain::CalcScanParams1() {
    CalcScanParams(0);
}
void TfrmMain::CalcScanParams2() {
    CalcScanParams(1);
}

void TfrmMain::CalcScanParams(int Index) {
    ScanTicks& ticks = FScanTicks[Index];
    if (ticks.writingBack)
        return; // the recompute's own write-back: recomputing its output would lower the period again
    ScanFields s = scanFields(Index);
    const long double F = scanTimeFactor(Index);

    s.FScanStart = StrToFloatDefault(s.txtScanStart->text(), 0);
    s.FScanEnd = StrToFloatDefault(s.txtScanEnd->text(), 0);
    s.FScanResolution = StrToFloatDefault(s.txtScanPointRes->text(), 0);
    s.FScanPointCount = parseIntDefault(s.txtScanPointCount->text(), 0);
    s.FScanTime = StrToFloatDefault(s.txtScanTime->text(), 0);
    s.FScanPeriodCount = parseIntDefault(s.txtScanPeriodCount->text(), 0);

    // Extended precision throughout, stored as 64-bit reals.
    const long double span = static_cast<long double>(s.FScanEnd) - s.FScanStart;
    s.FScanPointCount = roundCount(checkedDivide(span, s.FScanResolution) + 1);
    const long double period = std::trunc(checkedDivide(s.FScanTime, s.FScanPointCount) * F);
    s.FScanPointTime = static_cast<double>(period);
    if (s.FScanPointTime < F / 100)
        s.FScanPointTime = static_cast<double>(F / 100);
    s.FScanTime = static_cast<double>(static_cast<long double>(s.FScanPointCount) * s.FScanPointTime / F);

    ticks.writingBack = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{ticks.writingBack};
    writeBack(s.txtScanPointTime, formatGeneral(static_cast<double>(s.FScanPointTime / F)));
    writeBack(s.txtScanStart, formatGeneral(s.FScanStart));
    writeBack(s.txtScanEnd, formatGeneral(s.FScanEnd));
    writeBack(s.txtScanPointRes, formatGeneral(s.FScanResolution));
    writeBack(s.txtScanPointCount, formatInt(s.FScanPointCount));
    writeBack(s.txtScanTime, formatGeneral(s.FScanTime));
    writeBack(s.txtScanPeriodCount, formatInt(s.FScanPeriodCount));
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
void TfrmMain::txtScanEnd2PropertiesChange() {
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

// ---- Scan run ----

void TfrmMain::btnScan1Click() {
    btnScanClick(0);
}
void TfrmMain::btnScan2Click() {
    btnScanClick(1);
}

void TfrmMain::btnScanClick(int Index) {
    emit panelChanged(Index);
    Fields f = fields(Index);
    ScanFields s = scanFields(Index);
    switch (f.FScanState) {
    case 0:
        if (f.FBusy)
            return;
        CalcScanParams(Index); // a failure leaves the scan idle
        FScanTicks[Index].periodMs = timerPeriodMs(s.FScanPointTime);
        s.tmrScanTime->setInterval(FScanTicks[Index].periodMs);
        f.FScanStep = 1;
        s.FScanPointIndex = 0;
        s.FScanPeriodIndex = 0;
        f.FScanState = 1;
        s.btnScan->setText(QStringLiteral("PAUSE"));
        enableScanTimer(Index, true);
        AddLog(Index, QStringLiteral("Start Scaning..."));
        break;
    case 1:
        f.FScanState = 2;
        s.btnScan->setText(QStringLiteral("CONTINUE"));
        break;
    case 2:
        f.FScanState = 1;
        s.btnScan->setText(QStringLiteral("PAUSE"));
        break;
    default:
        break;
    }
}

void TfrmMain::btnScanStop1Click() {
    btnScanStopClick(0);
}
void TfrmMain::btnScanStop2Click() {
    btnScanStopClick(1);
}

void TfrmMain::btnScanStopClick(int Index) {
    emit panelChanged(Index);
    Fields f = fields(Index);
    f.FScanStep = 0;
    enableScanTimer(Index, false);
    f.FScanState = 0;
    scanFields(Index).btnScan->setText(QStringLiteral("SCAN"));
}

void TfrmMain::enableScanTimer(int Index, bool Enabled) {
    ScanTicks& ticks = FScanTicks[Index];
    PreciseTimer* timer = scanFields(Index).tmrScanTime;
    ticks.enabled = Enabled;
    if (!Enabled) {
        timer->stop();
        return;
    }
    // The first tick comes one period after the start, as from a tick at the start.
    ticks.lastTickNs = PreciseTimer::nowNs();
    armScanTimer(Index, ticks.lastTickNs);
}

// Arms the timer for the end of the period that began at FromNs: the tick's own work does not delay the
// next tick, and the timer never fires before its deadline, so ticks come no sooner than one period apart.
void TfrmMain::armScanTimer(int Index, qint64 FromNs) {
    scanFields(Index).tmrScanTime->startAt(FromNs +
                                           static_cast<qint64>(FScanTicks[Index].periodMs) * 1000000);
}

void TfrmMain::tmrScanTime1Timer() {
    tmrScanTimeTimer(0);
}
void TfrmMain::tmrScanTime2Timer() {
    tmrScanTimeTimer(1);
}

void TfrmMain::tmrScanTimeTimer(int Index) {
    emit panelChanged(Index);
    ScanTicks& ticks = FScanTicks[Index];
    ScanFields s = scanFields(Index);
    if (!ticks.enabled)
        return;
    if (!s.FScanLock) {
        enableScanTimer(Index, false); // the window is closing
        return;
    }
    const qint64 now = PreciseTimer::nowNs();
    const qint64 periodNs = static_cast<qint64>(ticks.periodMs) * 1000000;
    if (ticks.inTick) {
        ++ticks.heldBack; // inside a tick that dispatches messages: that tick re-arms the timer as it ends
        return;
    }
    if (now - ticks.lastTickNs < periodNs) {
        ++ticks.heldBack; // too early: no tick; wait for the rest of the period
        armScanTimer(Index, ticks.lastTickNs);
        return;
    }
    ticks.lastTickNs = now;
    // Whatever happens inside the tick, the next one is armed: one failing tick must not end the scan.
    struct Rearm {
        TfrmMain* window;
        int index;
        ~Rearm() {
            if (window->FScanTicks[index].enabled && !window->scanFields(index).tmrScanTime->isActive())
                window->armScanTimer(index, window->FScanTicks[index].lastTickNs);
        }
    } rearm{this, Index};

    {
        std::lock_guard<std::recursive_mutex> lock(*s.FScanLock);
        ticks.inTick = true;
        struct Leave {
            bool& flag;
            ~Leave() { flag = false; }
        } leave{ticks.inTick};

        Fields f = fields(Index);
        // A command of the panel still outstanding (a MOVE or jog typed during the scan) holds the scan
        // back: its reply would otherwise be taken for this point's reply and the next point sent too early.
        if (f.FScanStep == 1 && f.FScanState == 1 && !f.FBusy) {
            if (s.FScanPointIndex < s.FScanPointCount) {
                f.FTargetWavelength = static_cast<double>(
                    static_cast<long double>(s.FScanPointIndex) * s.FScanResolution + s.FScanStart);
                panel(Index).txtMoveWavelength->setText(formatGeneral(f.FTargetWavelength));
                SendCommand(Index, ckMove);
                ++s.FScanPointIndex;
                f.FScanStep = 2;
            } else {
                ++s.FScanPeriodIndex;
                if (s.FScanPeriodIndex >= s.FScanPeriodCount) {
                    f.FScanStep = 0;
                    enableScanTimer(Index, false);
                    f.FScanState = 0;
                    s.btnScan->setText(QStringLiteral("SCAN"));
                    AddLog(Index, QStringLiteral("End Scaning..."));
                } else {
                    s.FScanPointIndex = 0;
                }
            }
        }
    }
}
