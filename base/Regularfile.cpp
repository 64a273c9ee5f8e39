#include "base/Regularfile.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string NotRegular(mode_t mode) {
    return std::string("It is ") + FileKindName(mode) + ", not a regular file.";
}

std::string SizeText(uint64_t bytes) {
    return bytes % (uint64_t{1} << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                            : std::to_string(bytes) + " bytes";
}

} // namespace

const char* FileKindName(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return "a regular file";
    case S_IFDIR:
        return "a directory";
    case S_IFIFO:
        return "a FIFO";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFSOCK:
        return "a socket";
    case S_IFLNK:
        return "a symbolic link";
    default:
        return "something";
    }
}

int OpenRegularFile(const std::string& path, int flags, std::string& reason, mode_t mode) {
    // Non-blocking only for the open itself: opening a FIFO otherwise waits for its other end.
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) {
        const int error = errno;
        // A FIFO without a reader refuses a non-blocking writer with ENXIO, a link refused by
        // O_NOFOLLOW gives ELOOP: say what the path is rather than those codes' texts.
        struct stat status {};
        const bool found =
            ((flags & O_NOFOLLOW) != 0 ? ::lstat(path.c_str(), &status) : ::stat(path.c_str(), &status)) == 0;
        reason = found && !S_ISREG(status.st_mode) ? NotRegular(status.st_mode)
                                                   : std::string(std::strerror(error)) + ".";
        errno = error;
        return -1;
    }
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        const int error = known ? EINVAL : errno;
        reason = known ? NotRegular(status.st_mode) : std::string(std::strerror(error)) + ".";
        ::close(fd);
        errno = error;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string ReadRegularFile(const std::string& path, uint64_t limit, const std::string& what,
                            bool followLinks, const std::string& advice) {
    const auto refuse = [&](const std::string& reason) {
        return TModelError("Cannot open " + what + " \"" + path + "\". " + reason);
    };
    std::string reason;
    const int fd = OpenRegularFile(path, O_RDONLY | (followLinks ? 0 : O_NOFOLLOW), reason);
    if (fd < 0) {
        if (reason.rfind("It is ", 0) == 0)
            throw refuse(reason + " " + (advice.empty() ? std::string("Name a regular file.") : advice));
        throw refuse(reason);
    }
    const auto tooLarge = [&] {
        ::close(fd);
        return refuse("It is larger than " + SizeText(limit) +
                      ", more than such a file ever holds. Check that it is the right file.");
    };
    struct stat status {};
    std::string text;
    if (::fstat(fd, &status) == 0) {
        if (static_cast<uint64_t>(status.st_size) > limit)
            throw tooLarge();
        text.reserve(static_cast<size_t>(status.st_size));
    }
    // The size is checked as the bytes come too: the file may grow while it is read.
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            const int error = errno;
            ::close(fd);
            throw refuse(std::string(std::strerror(error)) + ".");
        }
        if (count == 0)
            break;
        if (text.size() + static_cast<uint64_t>(count) > limit)
            throw tooLarge();
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return text;
}
