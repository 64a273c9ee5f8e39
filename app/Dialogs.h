#pragma once
// The modal dialogs the main window runs, behind seams that tests replace: the two file
// dialogs and the connect dialog.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TfmConnect;

struct TFileDialogRequest {
    bool Save = false;
    QString Title;
    // With its dot, e.g. ".RUR"; added to a name typed without an extension.
    QString DefaultExtension;
    // Descriptions and patterns separated by vertical bars.
    QString Filter;
};

// Returns the chosen path; empty when the dialog was cancelled.
using TFileDialogRunner = std::function<QString(QWidget* parent, const TFileDialogRequest& request)>;
// Runs the dialog modally and returns its modal result.
using TConnectDialogRunner = std::function<int(TfmConnect& dialog)>;

// Each returns the runner it replaces; an empty runner restores the real dialog.
TFileDialogRunner SetFileDialogRunner(TFileDialogRunner runner);
TConnectDialogRunner SetConnectDialogRunner(TConnectDialogRunner runner);

QString RunFileDialog(QWidget* parent, const TFileDialogRequest& request);
int RunConnectDialog(TfmConnect& dialog);

// "Desc (*.A)|*.A|All (*.*)|*.*" as the name filters a file dialog takes.
QStringList NameFiltersFromFilter(const QString& filter);
