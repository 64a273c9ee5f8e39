#include "app/Fm_traffic.h"

#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/Traffictable.h"
#include "link/Trafficlog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

TfmTraffic::TfmTraffic(QWidget* parent, TTrafficLog* log) : QDialog(parent), FLog(log) {
    setObjectName("fmTraffic");
    setWindowTitle(QStringLiteral("Traffic Log"));
    resize(1000, 520);

    Model = new TTrafficTable(log, this);
    Table = new QTableView(this);
    Table->setObjectName("Table");
    Table->setModel(Model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    // Rows of one height need not be measured one by one: thousands of them stay quick.
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 4);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->horizontalHeader()->setDefaultSectionSize(90);
    Table->setColumnWidth(3, 260); // Bytes
    // The longest of the names a frame of ours carries reads whole.
    Table->setColumnWidth(
        7, Table->fontMetrics().horizontalAdvance(QStringLiteral("Read Holding Registers")) + 16);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    btClear = buttons->addButton(QStringLiteral("Clear"), QDialogButtonBox::ActionRole);
    btClear->setObjectName("btClear");
    btPause = buttons->addButton(QStringLiteral("Pause"), QDialogButtonBox::ActionRole);
    btPause->setObjectName("btPause");
    btPause->setCheckable(true);
    btPause->setChecked(log->Paused());
    btSaveAs = buttons->addButton(QStringLiteral("Save As..."), QDialogButtonBox::ActionRole);
    btSaveAs->setObjectName("btSaveAs");
    connect(btClear, &QPushButton::clicked, this, [this] { RunGuarded([this] { btClearClick(); }); });
    connect(btPause, &QPushButton::toggled, this, [this](bool paused) { FLog->SetPaused(paused); });
    connect(btSaveAs, &QPushButton::clicked, this, [this] { RunGuarded([this] { btSaveAsClick(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Table);
    layout->addWidget(buttons);

    TakeNewFrames();
    Table->scrollToBottom();
    FRefresh.setInterval(200);
    connect(&FRefresh, &QTimer::timeout, this, [this] { TakeNewFrames(); });
    FRefresh.start();
}

void TfmTraffic::TakeNewFrames() {
    // Scrolled up to read something: the rows arriving must not pull the view away from it.
    const QScrollBar* bar = Table->verticalScrollBar();
    const bool atTail = bar->value() == bar->maximum();
    Model->Update();
    if (atTail)
        Table->scrollToBottom();
}

void TfmTraffic::btClearClick() {
    FLog->Clear();
    Model->Clear();
}

void TfmTraffic::btSaveAsClick() {
    const QString path =
        RunFileDialog(this, {true, "Save As...", ".csv",
                             "CSV File (*.csv)|*.csv|Text File (*.txt)|*.txt|All Files (*.*)|*.*"});
    if (path.isEmpty())
        return;
    FLog->Save(path.toStdString());
}
