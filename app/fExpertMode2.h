#pragma once
// Expert terminal of spectrograph 2, key mode: every key press sends its virtual-key code as one byte.

#include "ExpertModeWindow.h"

#include <memory>

namespace Ui {
class TfrmExpertMode2;
}

class TfrmExpertMode2 : public ExpertModeWindow {
    Q_OBJECT
public:
    explicit TfrmExpertMode2(QWidget* parent = nullptr);
    ~TfrmExpertMode2() override;

    QPlainTextEdit* memoTerminal() const override;

protected:
    void memoTerminalKeyDown(QKeyEvent* Key) override;
    TKivComm* comm() const override;
    QCheckBox* expertModeBox() const override;

private:
    std::unique_ptr<Ui::TfrmExpertMode2> ui;
};

extern TfrmExpertMode2* frmExpertMode2;
