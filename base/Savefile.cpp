#include "base/Savefile.h"

#include "base/Errors.h"
#include "base/Regularfile.h"

#include <QSaveFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

std::string CannotCreate(const std::string& path, const std::string& cause) {
    return "Cannot create file \"" + path + "\". " + cause;
}

// Raises when `path` (symlinks followed) exists and is no regular file. A path that does not
// exist yet is fine: the save creates it, as it creates the target of a dangling link.
void RequireRegularOrNew(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        // A loop of links would otherwise be replaced by a file at its first link.
        if (errno == ELOOP)
            throw TModelError(CannotCreate(path, std::strerror(ELOOP)));
        return;
    }
    if (!S_ISREG(status.st_mode))
        throw TModelError(CannotCreate(path, std::string("It is ") + FileKindName(status.st_mode) +
                                                 ", not a regular file."));
}

} // namespace

void SaveFileContent(const std::string& path, const std::string& content) {
    RequireRegularOrNew(path);
    QSaveFile file(QString::fromStdString(path));
    // Never write in place, not even where no temporary file can be made: the save then fails
    // with the old file whole instead of risking a torn one.
    file.setDirectWriteFallback(false);
    // Unbuffered, so every refusal of the disk shows in a write below: a buffered last part is
    // written in commit, which then puts a short file in place of the old one without a word.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw TModelError(CannotCreate(path, file.errorString().toStdString()));
    // A full disk first takes part of a write and says nothing; the next write gives its reason.
    const auto size = static_cast<qint64>(content.size());
    for (qint64 done = 0; done < size;) {
        const qint64 written = file.write(content.data() + done, size - done);
        if (written <= 0) {
            // Taken before cancelling, which puts its own text in place of the disk's reason.
            const std::string cause = file.errorString().toStdString();
            file.cancelWriting();
            throw TModelError(CannotCreate(path, cause));
        }
        done += written;
    }
    if (!file.commit())
        throw TModelError(CannotCreate(path, file.errorString().toStdString()));
}
