#pragma once
// The console's main window.

#include <QWidget>

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
};
