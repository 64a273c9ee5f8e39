#pragma once
// The traffic log as a table model: one row a frame, newest last, each row's texts decoded once
// when it arrives so that scrolling through thousands of frames stays quick.
#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <deque>
#include <vector>

class TTrafficLog;

class TTrafficTable : public QAbstractTableModel {
    Q_OBJECT
public:
    TTrafficTable(const TTrafficLog* log, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Window's thread: adds the frames the log has taken since the last look, dropping the oldest
    // rows beyond what the log keeps. Touches no port.
    void Update();
    // Empties the table; frames the log takes from now on still come.
    void Clear();

private:
    const TTrafficLog* FLog;
    uint64_t FSeen = 0;
    std::deque<std::vector<QString>> FRows;
};
