#pragma once
// The modal dialogs the main window runs, behind seams that tests replace: the two file
// dialogs, the connect dialog and the review before a write.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TfmConnect;
class TfmReview;

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
// Runs the review modally and returns its result (QDialog::Accepted: write).
using TReviewRunner = std::function<int(TfmReview& dialog)>;

// Every runner a test may put in place of a real dialog; an empty one runs the real dialog. The
// application object holds them (TApplication), so they live and die with the program's widgets.
struct TDialogSeams {
    TFileDialogRunner File;
    TConnectDialogRunner Connect;
    TReviewRunner Review;
};

// Each returns the runner it replaces; an empty runner restores the real dialog. A program
// without a TApplication has no seams: it runs the real dialogs.
TFileDialogRunner SetFileDialogRunner(TFileDialogRunner runner);
TConnectDialogRunner SetConnectDialogRunner(TConnectDialogRunner runner);
TReviewRunner SetReviewRunner(TReviewRunner runner);

QString RunFileDialog(QWidget* parent, const TFileDialogRequest& request);
int RunConnectDialog(TfmConnect& dialog);
int RunReview(TfmReview& dialog);

// "Desc (*.A)|*.A|All (*.*)|*.*" as the name filters a file dialog takes.
QStringList NameFiltersFromFilter(const QString& filter);
