#include "app/Dialogs.h"

#include "app/Fm_connect.h"

#include <QFileDialog>

namespace {

QString RealFileDialog(QWidget* parent, const TFileDialogRequest& request) {
    QFileDialog dialog(parent, request.Title);
    dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Loading needs a file that exists; saving asks before replacing one.
    dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    QString suffix = request.DefaultExtension;
    if (suffix.startsWith('.'))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    dialog.setNameFilters(NameFiltersFromFilter(request.Filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

int RealConnectDialog(TfmConnect& dialog) {
    return dialog.exec();
}

TFileDialogRunner& FileRunner() {
    static TFileDialogRunner runner = RealFileDialog;
    return runner;
}

TConnectDialogRunner& ConnectRunner() {
    static TConnectDialogRunner runner = RealConnectDialog;
    return runner;
}

} // namespace

TFileDialogRunner SetFileDialogRunner(TFileDialogRunner runner) {
    TFileDialogRunner previous = FileRunner();
    FileRunner() = runner ? std::move(runner) : TFileDialogRunner(RealFileDialog);
    return previous;
}

TConnectDialogRunner SetConnectDialogRunner(TConnectDialogRunner runner) {
    TConnectDialogRunner previous = ConnectRunner();
    ConnectRunner() = runner ? std::move(runner) : TConnectDialogRunner(RealConnectDialog);
    return previous;
}

QString RunFileDialog(QWidget* parent, const TFileDialogRequest& request) {
    return FileRunner()(parent, request);
}

int RunConnectDialog(TfmConnect& dialog) {
    return ConnectRunner()(dialog);
}

QStringList NameFiltersFromFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& pattern = parts[i + 1];
        // The dialog takes its patterns from the parentheses of the description.
        if (description.endsWith("(" + pattern + ")"))
            filters << description;
        else
            filters << description + " (" + QString(pattern).replace(';', ' ') + ")";
    }
    return filters;
}
