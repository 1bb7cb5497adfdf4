#pragma once
// The console's main window: the view of two spectrograph panels, the selector and the log.

#include <QByteArray>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "SpectrographPanel.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class LogMemo;
class QRadioButton;
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

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Components of the window; each spectrograph's port and timers are its panel's.
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
    void txtScanEnd2PropertiesEditValueChanged();
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

    // The message about a log file that cannot be written, while it is shown (none otherwise).
    QMessageBox* logFaultMessage() const { return FLogFaultBox; }

    // ---- One spectrograph at a time ----
    // Spectrograph Index + 1 (0 or 1): its state and its operations, which the window's clicks and remote
    // clients both call.
    SpectrographPanel& panel(int Index) { return *FPanels[Index]; }
    const SpectrographPanel& panel(int Index) const { return *FPanels[Index]; }

    // What a click on a panel runs, for spectrograph Index + 1: the panel's operation with what the
    // panel's fields say; a refusal is written to the panel's log.
    void btnCommClick(int Index);
    void bntInitializeClick(int Index);
    void btnMoveClick(int Index);
    void btnJogClick(int Index, int Direction);
    void btnScanClick(int Index);
    void btnScanStopClick(int Index);
    void CalcScanParams(int Index);
    // The scan box as the user typed it.
    TScanInput scanInput(int Index) const;

    // What a remote client did, shown as if typed: the target, the jog step, the grating chosen.
    void showTarget(int Index, double Nm);
    void showJogStep(int Index, double Step);
    void showGratingChoice(int Index, int Grating);

    // The controls of one panel, so that each pair of twin handlers has one implementation.
    struct PanelView {
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
        QLineEdit* txtScanStart;
        QLineEdit* txtScanEnd;
        QLineEdit* txtScanPointRes;
        QLineEdit* txtScanPointCount;
        QLineEdit* txtScanTime;
        QLineEdit* txtScanPointTime;
        QLineEdit* txtScanPeriodCount;
        TKivBitBtn* btnScan;
        TKivBitBtn* btnScanStop;
    };
    const PanelView& view(int Index) const { return FViews[Index]; }

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
    void connectPanel(int Index);
    QString chooseLogFolder() const;

    void AddLog(int Index, const QString& Text);
    void writeLog(int Index, const QString& Text);
    void memoLogChange(int Index);
    void cbExpertModeClick(int Index);
    void showName(int Index, const QString& Text);
    void showPanel(int Index);
    void showGratingTable(int Index);
    void showScan(int Index);
    // A click the panel refused: the reason goes to the panel's log.
    void refused(int Index, const QString& Why);
    static QPalette lightPalette();

    void reportLogFault();
    void connectCommit(QLineEdit* Edit, void (TfrmMain::*Handler)());
    QPointer<QMessageBox> FLogFaultBox;
    bool FLogFaultShown = false;

    std::unique_ptr<Ui::TfrmMain> ui;
    PortSearchQueue FSearches;
    std::array<SpectrographPanel*, 2> FPanels{};
    std::array<PanelView, 2> FViews{};
    QString FLogFolder;
};

// The program's windows, as the program entry creates them.
extern TfrmMain* frmMain;
