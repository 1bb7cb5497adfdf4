#pragma once
// Expert terminal of spectrograph 1, line mode: Enter sends the last line with a carriage return.

#include "ExpertModeWindow.h"

#include <memory>

namespace Ui {
class TfrmExpertMode1;
}

class TfrmExpertMode1 : public ExpertModeWindow {
    Q_OBJECT
public:
    explicit TfrmExpertMode1(QWidget* parent = nullptr);
    ~TfrmExpertMode1() override;

    QPlainTextEdit* memoTerminal() const override;

protected:
    void memoTerminalKeyDown(QKeyEvent* Key) override;
    TKivComm* comm() const override;
    QCheckBox* expertModeBox() const override;

private:
    std::unique_ptr<Ui::TfrmExpertMode1> ui;
};

extern TfrmExpertMode1* frmExpertMode1;
