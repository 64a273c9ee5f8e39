#include "app/Dialogs.h"

#include "app/Application.h"
#include "app/Fm_connect.h"
#include "app/Fm_review.h"

#include <QFileDialog>
#include <utility>

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

// The seams of the running program; null without a TApplication.
TDialogSeams* Seams() {
    TApplication* application = TApplication::Instance();
    return application != nullptr ? &application->DialogSeams : nullptr;
}

template <typename TRunner> TRunner Replace(TRunner TDialogSeams::*runner, TRunner replacement) {
    TDialogSeams* seams = Seams();
    return seams != nullptr ? std::exchange(seams->*runner, std::move(replacement)) : TRunner();
}

} // namespace

TFileDialogRunner SetFileDialogRunner(TFileDialogRunner runner) {
    return Replace(&TDialogSeams::File, std::move(runner));
}

TConnectDialogRunner SetConnectDialogRunner(TConnectDialogRunner runner) {
    return Replace(&TDialogSeams::Connect, std::move(runner));
}

TReviewRunner SetReviewRunner(TReviewRunner runner) {
    return Replace(&TDialogSeams::Review, std::move(runner));
}

QString RunFileDialog(QWidget* parent, const TFileDialogRequest& request) {
    if (const TDialogSeams* seams = Seams(); seams != nullptr && seams->File)
        return seams->File(parent, request);
    return RealFileDialog(parent, request);
}

int RunConnectDialog(TfmConnect& dialog) {
    if (const TDialogSeams* seams = Seams(); seams != nullptr && seams->Connect)
        return seams->Connect(dialog);
    return dialog.exec();
}

int RunReview(TfmReview& dialog) {
    if (const TDialogSeams* seams = Seams(); seams != nullptr && seams->Review)
        return seams->Review(dialog);
    return dialog.exec();
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
