#pragma once
// The console's main window: two spectrograph panels, their serial ports, timers, log and protocol.

#include <QByteArray>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class LogMemo;
class PreciseTimer;
class QRadioButton;
class QTimer;
class TImageList;
class TKivBitBtn;
class TKivBtnSkinner;
class TKivComm;
class TKivLEDBtn;
class TKivOdoMeter;
class TznLog;

namespace Ui {
class TfrmMain;
}

// The controller commands; the console knows which reply it waits for only by the last one sent.
enum TCommandKind : std::uint8_t { ckStatus, ckInfo, ckMove, ckStop, ckSelectGrating, ckInitialize };

struct TGratingInfo {
    int Value0 = 0;
    int Value1 = 0;
    int Groove = 0;
    double Blaze = 0;
    int Value4 = 0;
    int Value5 = 0;
    double Value6 = 0;
    int Value7 = 0;
    double Value8 = 0;
    int Value9 = 0;
};

// What a controller reports about itself.
struct TSpectrographInfo {
    QString Name;
    QString InfoText1;
    int InfoValue2 = 0;
    int GratingCount = 0;
    int InfoValue4 = 0;
    std::array<TGratingInfo, 11> Gratings{};
    int StatusValue0 = 0;
    int CurrentGrating = 0;
    int StatusValue2 = 0;
    double CurrentWavelength = 0;
    int StatusValue4 = 0;
};

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Components of the window, reachable by the expert terminals and by tests as on the form.
    TKivComm* Comm1 = nullptr;
    TKivComm* Comm2 = nullptr;
    QTimer* tmrConnect1 = nullptr;
    QTimer* tmrConnect2 = nullptr;
    PreciseTimer* tmrScanTime1 = nullptr;
    PreciseTimer* tmrScanTime2 = nullptr;
    TznLog* LogFile = nullptr;
    TKivBtnSkinner* BtnSkinnerXP = nullptr;
    TImageList* imlMain = nullptr;
    TImageList* imlMain24 = nullptr;
    QButtonGroup* rgSelectionItems = nullptr;

    // Controls, by their names on the form.
    QLabel* imgLogo;
    QGroupBox* rgSelection;
    TKivBitBtn* btnClose;
    QGroupBox *gbSpectroGraph1, *gbSpectroGraph2;
    TKivLEDBtn *btnComm1, *btnComm2;
    QLabel *lblName1, *lblName2;
    TKivBitBtn *bntInitialize1, *bntInitialize2;
    TKivOdoMeter *meterCurrWavelength1, *meterCurrWavelength2;
    QRadioButton *rbGrating11, *rbGrating12, *rbGrating13, *rbGrating21, *rbGrating22, *rbGrating23;
    QLineEdit *txtGroove11, *txtGroove12, *txtGroove13, *txtGroove21, *txtGroove22, *txtGroove23;
    QLineEdit *txtBlaze11, *txtBlaze12, *txtBlaze13, *txtBlaze21, *txtBlaze22, *txtBlaze23;
    QLineEdit *txtMoveWavelength1, *txtMoveWavelength2;
    TKivBitBtn *btnMove1, *btnMove2, *btnMoveStop1, *btnMoveStop2;
    TKivBitBtn *btnJogMinus1, *btnJogMinus2, *btnJogPlus1, *btnJogPlus2;
    QLineEdit *txtJogStep1, *txtJogStep2;
    QLineEdit *txtScanStart1, *txtScanStart2, *txtScanEnd1, *txtScanEnd2;
    QLineEdit *txtScanPointRes1, *txtScanPointRes2, *txtScanPointCount1, *txtScanPointCount2;
    QLineEdit *txtScanTime1, *txtScanTime2, *txtScanPointTime1, *txtScanPointTime2;
    QLineEdit *txtScanPeriodCount1, *txtScanPeriodCount2;
    TKivBitBtn *btnScan1, *btnScan2, *btnScanStop1, *btnScanStop2;
    QCheckBox *cbExpertMode1, *cbExpertMode2;
    LogMemo *memoLog1, *memoLog2;

    // The log folder in use (beside the program, or the user's state folder when that is not writable).
    QString LogFolder() const { return FLogFolder; }

    // Event handlers, named as the window binds them.
    void FormCreate();
    void FormShow();
    void FormClose();
    void btnCloseClick();
    void rgSelectionClick();
    void AddLog1(const QString& Text);
    void AddLog2(const QString& Text);
    void memoLog1Change();
    void memoLog2Change();

    void SendCommand1(TCommandKind Kind);
    void SendCommand2(TCommandKind Kind);
    void Comm1EventCharReceived(QObject* Sender, int ACount);
    void Comm2EventCharReceived(QObject* Sender, int ACount);
    void ParseStatusReply(int Index, const QString& Text);
    void ParsePositionReply(int Index, const QString& Text);
    void ParseInfoReply(int Index, const QString& Text);

    void btnComm1Click();
    void btnComm2Click();
    void tmrConnect1Timer();
    void tmrConnect2Timer();

    void bntInitialize1Click();
    void bntInitialize2Click();
    void btnMove1Click();
    void btnMove2Click();
    void btnMoveStop1Click();
    void btnMoveStop2Click();
    void btnJogPlus1Click();
    void btnJogPlus2Click();
    void btnJogMinus1Click();
    void btnJogMinus2Click();

    void cbExpertMode1Click();
    void cbExpertMode2Click();
    void Comm1Received(QObject* Sender, int ACount);
    void Comm2Received(QObject* Sender, int ACount);

    // ---- Wavelength scans ----
    void CalcScanParams1();
    void CalcScanParams2();
    void txtScanStart1PropertiesEditValueChanged();
    void txtScanStart2PropertiesEditValueChanged();
    void txtScanEnd1PropertiesEditValueChanged();
    void txtScanEnd2PropertiesChange();
    void txtScanPointRes1PropertiesEditValueChanged();
    void txtScanPointRes2PropertiesEditValueChanged();
    void txtScanPointCount1PropertiesEditValueChanged();
    void txtScanPointCount2PropertiesEditValueChanged();
    void txtScanTime1PropertiesEditValueChanged();
    void txtScanTime2PropertiesEditValueChanged();
    void btnScan1Click();
    void btnScan2Click();
    void btnScanStop1Click();
    void btnScanStop2Click();
    void tmrScanTime1Timer();
    void tmrScanTime2Timer();

    // When the last scan tick of spectrograph Index + 1 ran (steady clock, ns; 0 before the first), and how
    // many timer deliveries were held back for coming before the period was over: what a pacing check reads.
    qint64 lastScanTickNs(int Index) const { return FScanTicks[Index].lastTickNs; }
    int heldBackScanTicks(int Index) const { return FScanTicks[Index].heldBack; }

    // Whether spectrograph Index + 1's port was lost or failed (device gone, read or write error) and has not
    // been connected again since; and the system's text of the last such fault (kept after a reconnect).
    bool portLost(int Index) const { return FPortFaults[Index].lost; }
    QString lastFault(int Index) const { return FPortFaults[Index].reason; }
    // The message about a log file that cannot be written, while it is shown (none otherwise).
    QMessageBox* logFaultMessage() const { return FLogFaultBox; }

    // The last line written to spectrograph Index + 1's log (empty before the first).
    QString lastLogLine(int Index) const { return FLastLogLine[Index]; }

    // ---- One spectrograph at a time ----
    // What a click on a panel runs, for spectrograph Index + 1 (0 or 1); whatever drives a panel from
    // outside the window (remote control, tests) calls these on this thread, as a click does.
    void btnCommClick(int Index);
    void bntInitializeClick(int Index);
    void btnMoveClick(int Index);
    void btnJogClick(int Index, int Direction);
    void btnScanClick(int Index);
    void btnScanStopClick(int Index);
    void CalcScanParams(int Index);
    bool lampOn(int Index);

    // The controls of one panel, so that each pair of twin handlers has one implementation.
    struct Panel {
        QGroupBox* gbSpectroGraph;
        TKivLEDBtn* btnComm;
        QLabel* lblName;
        TKivBitBtn* bntInitialize;
        TKivOdoMeter* meterCurrWavelength;
        std::array<QRadioButton*, 3> rbGrating;
        std::array<QLineEdit*, 3> txtGroove;
        std::array<QLineEdit*, 3> txtBlaze;
        QLineEdit* txtMoveWavelength;
        TKivBitBtn* btnMove;
        TKivBitBtn* btnMoveStop;
        TKivBitBtn* btnJogMinus;
        TKivBitBtn* btnJogPlus;
        QLineEdit* txtJogStep;
        QCheckBox* cbExpertMode;
        LogMemo* memoLog;
        TKivComm* Comm;
        QTimer* tmrConnect;
    };

    // The state fields of one spectrograph, as references into the twin fields below.
    struct Fields {
        int& FConnectStep;
        int& FPortIndex;
        QByteArray& FReply;
        TCommandKind& FCommand;
        double& FTargetWavelength;
        bool& FBusy;
        int& FScanState;
        int& FScanStep;
    };

    Panel& panel(int Index) { return FPanels[Index]; }
    Fields fields(int Index);

signals:
    // Something of spectrograph Index + 1 may have changed: its state, a reply, a log line, the selector.
    // Raised on this thread, often several times within one handler.
    void panelChanged(int Index);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setupComponents();
    void setupDesignTimeSettings();
    void connectHandlers();
    QString chooseLogFolder() const;

    void AddLog(int Index, const QString& Text);
    void memoLogChange(int Index);
    void SendCommand(int Index, TCommandKind Kind);
    void CommEventCharReceived(int Index, int ACount);
    void tmrConnectTimer(int Index);
    void cbExpertModeClick(int Index);
    void CommReceived(int Index, int ACount);
    void showName(int Index, const QString& Text);
    void reportRefusedPort(int Index, int OpenError);
    static QPalette lightPalette();
    void setLamp(int Index, bool On);

    // Faults of the port and of the log file.
    void CommError(int Index, int ErrCode, const QString& ErrDesc);
    void CommMessage(int Index, const QString& Msg);
    void handlePortFaultLater(int Index, std::function<void()> Handler);
    void releaseMove(int Index);
    void connectionLost(int Index, const QString& Reason);
    void inputOverflow(int Index, const QString& Reason);
    void reportLogFault();
    // What a port fault left: whether the port is lost and why, and whether an overflow was already told
    // since the last command. The open generation counts closes, so that a fault reported for a port since
    // closed is not applied to the next one.
    struct PortFault {
        bool lost = false;
        QString reason;
        bool overflowQueued = false;
        bool overflowTold = false;
    };
    std::array<PortFault, 2> FPortFaults{};
    std::array<std::atomic<int>, 2> FOpenGeneration{};
    QPointer<QMessageBox> FLogFaultBox;
    bool FLogFaultShown = false;

    std::unique_ptr<Ui::TfrmMain> ui;
    std::array<Panel, 2> FPanels{};
    QString FLogFolder;
    std::array<bool, 2> permissionReported{}; // this search has named a refused port
    std::array<QString, 2> FLastLogLine;

public:
    // ---- Wavelength scans ----
    // The scan state of one spectrograph, as references into the twin fields below, with its controls.
    struct ScanFields {
        double& FScanStart;
        double& FScanEnd;
        int& FScanPointCount;
        double& FScanTime;
        double& FScanResolution;
        double& FScanPointTime;
        int& FScanPeriodCount;
        int& FScanPointIndex;
        int& FScanPeriodIndex;
        std::unique_ptr<std::recursive_mutex>& FScanLock;
        QLineEdit* txtScanStart;
        QLineEdit* txtScanEnd;
        QLineEdit* txtScanPointRes;
        QLineEdit* txtScanPointCount;
        QLineEdit* txtScanTime;
        QLineEdit* txtScanPointTime;
        QLineEdit* txtScanPeriodCount;
        TKivBitBtn* btnScan;
        PreciseTimer* tmrScanTime;
    };
    ScanFields scanFields(int Index);

private:
    // The scan timer's pacing: a single-shot timer re-armed from each tick, so no tick comes before the
    // period is over.
    struct ScanTicks {
        bool enabled = false;
        bool inTick = false;
        bool writingBack = false;
        int periodMs = 10;
        qint64 lastTickNs = 0;
        int heldBack = 0;
    };

    void connectScanHandlers();
    void connectCommit(QLineEdit* Edit, void (TfrmMain::*Handler)());
    void tmrScanTimeTimer(int Index);
    void enableScanTimer(int Index, bool Enabled);
    void armScanTimer(int Index, qint64 FromNs);

    std::array<ScanTicks, 2> FScanTicks{};

public:
    // State fields, in their declared order; all start at zero, empty or False.
    std::unique_ptr<std::recursive_mutex> FScanLock1;
    std::unique_ptr<std::recursive_mutex> FScanLock2;
    int FConnectStep1 = 0;
    int FPortIndex1 = 0;
    QByteArray FReply1;
    TCommandKind FCommand1 = ckStatus;
    double FTargetWavelength1 = 0;
    bool FBusy1 = false;
    int FScanState1 = 0;
    int FScanStep1 = 0;
    double FScanStart1 = 0;
    double FScanEnd1 = 0;
    int FScanPointCount1 = 0;
    double FScanTime1 = 0;
    double FScanResolution1 = 0;
    double FScanPointTime1 = 0;
    int FScanPeriodCount1 = 0;
    int FScanPointIndex1 = 0;
    int FScanPeriodIndex1 = 0;
    int FConnectStep2 = 0;
    int FPortIndex2 = 0;
    QByteArray FReply2;
    TCommandKind FCommand2 = ckStatus;
    double FTargetWavelength2 = 0;
    bool FBusy2 = false;
    int FScanState2 = 0;
    int FScanStep2 = 0;
    double FScanStart2 = 0;
    double FScanEnd2 = 0;
    int FScanPointCount2 = 0;
    double FScanTime2 = 0;
    double FScanResolution2 = 0;
    double FScanPointTime2 = 0;
    int FScanPeriodCount2 = 0;
    int FScanPointIndex2 = 0;
    int FScanPeriodIndex2 = 0;
    std::array<TSpectrographInfo, 2> FSpectrograph{};
};

// The program's windows, as the program entry creates them.
extern TfrmMain* frmMain;
