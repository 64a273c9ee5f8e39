#pragma once
// The live traffic log: every frame of every open port in a table, newest last, following the
// tail unless the engineer has scrolled up; cleared, paused and saved as a trace file from here.
#include <QDialog>
#include <QTimer>

class QPushButton;
class QTableView;
class TTrafficLog;
class TTrafficTable;

class TfmTraffic : public QDialog {
    Q_OBJECT
public:
    // `log` outlives the window.
    TfmTraffic(QWidget* parent, TTrafficLog* log);

    QTableView* Table;
    TTrafficTable* Model;
    QPushButton* btClear;
    QPushButton* btPause;
    QPushButton* btSaveAs;

private:
    void TakeNewFrames();
    void btClearClick();
    void btSaveAsClick();

    TTrafficLog* FLog;
    // The log is looked at on this timer: the workers never wait for the window.
    QTimer FRefresh;
};
