// Preloaded into the crash driver: counts the system calls that touch one directory and, at the
// one numbered QUILLOR_FAULT_AT, kills the process, tears the write, or fails the call.
//
//   QUILLOR_FAULT_DIR    the directory whose files are watched (nothing else is counted)
//   QUILLOR_FAULT_LOG    every counted call is appended here as a line of tab-separated fields:
//                        number, call, path, second path (renames and links), action (kill,
//                        tear, fail, or empty); so the test learns how many points there are
//   QUILLOR_FAULT_AT     the point to act at; 0 or absent only counts
//   QUILLOR_FAULT_MODE   kill: SIGKILL before the call; tear: a write puts half its bytes down,
//                        then SIGKILL; fail: the call fails with QUILLOR_FAULT_ERRNO; term:
//                        SIGTERM before the call, which its handler may survive to make
//   QUILLOR_FAULT_ERRNO  ENOSPC, EIO, EACCES or EMFILE
//   QUILLOR_FAULT_SYNC   "skip": a watched fsync or fdatasync is counted and acted on, but does
//                        not wait for the disk (a killed process loses nothing a sync would keep;
//                        the test judges durability from the log)
//   QUILLOR_FAULT_TMPFILE "unsupported": an O_TMPFILE open in the watched directory fails with
//                        EOPNOTSUPP, uncounted, as on a file system without unnamed files
//
// Written in C against libc alone, so that it runs before and beneath everything it watches.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

enum mode { MODE_COUNT, MODE_KILL, MODE_TEAR, MODE_FAIL, MODE_TERM };

static char watched[PATH_MAX];
static size_t watchedLength;
static long faultAt;
static enum mode faultMode = MODE_COUNT;
static int faultErrno = EIO;
static int skipSync;
static int noTmpfile;
static int logFd = -1;
static long counter;
static int ready;

static int parseErrno(const char* name)
{
    static const struct {
        const char* name;
        int value;
    } known[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EACCES", EACCES}, {"EMFILE", EMFILE}};
    for (size_t i = 0; name && i < sizeof known / sizeof known[0]; ++i) {
        if (strcmp(name, known[i].name) == 0)
            return known[i].value;
    }
    return EIO;
}

__attribute__((constructor)) static void setUp(void)
{
    const char* dir = getenv("QUILLOR_FAULT_DIR");
    const char* log = getenv("QUILLOR_FAULT_LOG");
    if (!dir || !log || !realpath(dir, watched))
        return;
    watchedLength = strlen(watched);
    const char* at = getenv("QUILLOR_FAULT_AT");
    faultAt = at ? strtol(at, NULL, 10) : 0;
    const char* mode = getenv("QUILLOR_FAULT_MODE");
    if (mode && strcmp(mode, "kill") == 0)
        faultMode = MODE_KILL;
    else if (mode && strcmp(mode, "tear") == 0)
        faultMode = MODE_TEAR;
    else if (mode && strcmp(mode, "fail") == 0)
        faultMode = MODE_FAIL;
    else if (mode && strcmp(mode, "term") == 0)
        faultMode = MODE_TERM;
    faultErrno = parseErrno(getenv("QUILLOR_FAULT_ERRNO"));
    const char* sync = getenv("QUILLOR_FAULT_SYNC");
    skipSync = sync && strcmp(sync, "skip") == 0;
    const char* unnamed = getenv("QUILLOR_FAULT_TMPFILE");
    noTmpfile = unnamed && strcmp(unnamed, "unsupported") == 0;
    // Raw system calls from here on: the log must not count itself.
    logFd =
        (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ready = logFd >= 0;
}

static int isWatched(const char* path)
{
    return strncmp(path, watched, watchedLength) == 0 &&
           (path[watchedLength] == '\0' || path[watchedLength] == '/');
}

// The absolute path a call names, relative ones taken from dirFd (or the working directory).
static void resolve(int dirFd, const char* path, char* out)
{
    out[0] = '\0';
    if (!path)
        return;
    if (path[0] == '/') {
        snprintf(out, PATH_MAX, "%s", path);
        return;
    }
    char base[PATH_MAX];
    char link[64];
    ssize_t n;
    if (dirFd == AT_FDCWD) {
        n = getcwd(base, sizeof base) ? (ssize_t)strlen(base) : -1;
    } else {
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirFd);
        n = readlink(link, base, sizeof base - 1);
    }
    if (n < 0)
        return;
    base[n] = '\0';
    snprintf(out, PATH_MAX, "%s/%s", base, path);
}

static void pathOfFd(int fd, char* out)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, out, PATH_MAX - 1);
    out[n < 0 ? 0 : n] = '\0';
}

static void note(long k, const char* call, const char* path, const char* path2, const char* action)
{
    char line[2 * PATH_MAX + 128];
    const int n = snprintf(line, sizeof line, "%ld\t%s\t%s\t%s\t%s\n", k, call, path,
                           path2 ? path2 : "", action ? action : "");
    if (n > 0)
        syscall(SYS_write, logFd, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
}

enum verdict { PROCEED, COUNTED, FAIL, TEAR };

// Counts a call on path when it lies in the watched directory; kills here, or says how the
// caller is to act.
static enum verdict point(const char* call, const char* path, const char* path2, int tearable)
{
    if (!ready || !((path && isWatched(path)) || (path2 && isWatched(path2))))
        return PROCEED;
    const long k = __atomic_add_fetch(&counter, 1, __ATOMIC_SEQ_CST);
    if (k != faultAt || faultMode == MODE_COUNT) {
        note(k, call, path, path2, NULL);
        return COUNTED;
    }
    if (faultMode == MODE_FAIL) {
        note(k, call, path, path2, "fail");
        return FAIL;
    }
    if (faultMode == MODE_TERM) {
        note(k, call, path, path2, "term");
        syscall(SYS_kill, syscall(SYS_getpid), SIGTERM);
        return COUNTED;
    }
    if (faultMode == MODE_TEAR && tearable) {
        note(k, call, path, path2, "tear");
        return TEAR;
    }
    note(k, call, path, path2, "kill");
    syscall(SYS_kill, syscall(SYS_getpid), SIGKILL);
    return PROCEED; // not reached
}

static void die(void)
{
    syscall(SYS_kill, syscall(SYS_getpid), SIGKILL);
}

static enum verdict fdPoint(const char* call, int fd, int tearable)
{
    if (!ready)
        return PROCEED;
    char path[PATH_MAX];
    pathOfFd(fd, path);
    return point(call, path, NULL, tearable);
}

static enum verdict pathPoint(const char* call, int dirFd, const char* name)
{
    if (!ready)
        return PROCEED;
    char path[PATH_MAX];
    resolve(dirFd, name, path);
    return point(call, path, NULL, 0);
}

static enum verdict twoPathPoint(const char* call, int fromDir, const char* from, int toDir,
                                 const char* to)
{
    if (!ready)
        return PROCEED;
    char fromPath[PATH_MAX];
    char toPath[PATH_MAX];
    // A link from /proc/self/fd/N names an open file (one made with O_TMPFILE): its own path.
    if (from && strncmp(from, "/proc/self/fd/", 14) == 0)
        pathOfFd((int)strtol(from + 14, NULL, 10), fromPath);
    else
        resolve(fromDir, from, fromPath);
    resolve(toDir, to, toPath);
    return point(call, fromPath, toPath, 0);
}

// The next definition of name: libc's, or a sanitizer's in front of it.
#define REAL(name)                                                                                 \
    static __typeof__(name)* real_##name;                                                          \
    if (!real_##name)                                                                              \
    *(void**)&real_##name = dlsym(RTLD_NEXT, #name)

#define FAILED(verdict)                                                                            \
    if ((verdict) == FAIL) {                                                                       \
        errno = faultErrno;                                                                        \
        return -1;                                                                                 \
    }

// An O_TMPFILE open refused as the file system would refuse it, before it is counted.
static int tmpfileRefused(int dirFd, const char* path, int flags)
{
    if (!ready || !noTmpfile || (flags & O_TMPFILE) != O_TMPFILE)
        return 0;
    char resolved[PATH_MAX];
    resolve(dirFd, path, resolved);
    return isWatched(resolved);
}

static int modeOf(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, int) : 0;
}

// An open that may create a name is logged as "call/create".
#define OPEN_NAME(name, flags) ((flags)&O_CREAT ? #name "/create" : #name)

#define OPEN_AT(name)                                                                              \
    int name(int dirFd, const char* path, int flags, ...)                                          \
    {                                                                                              \
        REAL(name);                                                                                \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        const int mode = modeOf(flags, args);                                                      \
        va_end(args);                                                                              \
        if (tmpfileRefused(dirFd, path, flags)) {                                                  \
            errno = EOPNOTSUPP;                                                                    \
            return -1;                                                                             \
        }                                                                                          \
        FAILED(pathPoint(OPEN_NAME(name, flags), dirFd, path));                                    \
        return real_##name(dirFd, path, flags, mode);                                              \
    }

#define OPEN(name)                                                                                 \
    int name(const char* path, int flags, ...)                                                     \
    {                                                                                              \
        REAL(name);                                                                                \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        const int mode = modeOf(flags, args);                                                      \
        va_end(args);                                                                              \
        if (tmpfileRefused(AT_FDCWD, path, flags)) {                                               \
            errno = EOPNOTSUPP;                                                                    \
            return -1;                                                                             \
        }                                                                                          \
        FAILED(pathPoint(OPEN_NAME(name, flags), AT_FDCWD, path));                                 \
        return real_##name(path, flags, mode);                                                     \
    }

OPEN(open)
OPEN(open64)
OPEN_AT(openat)
OPEN_AT(openat64)

ssize_t read(int fd, void* buffer, size_t count)
{
    REAL(read);
    FAILED(fdPoint("read", fd, 0));
    return real_read(fd, buffer, count);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
{
    REAL(pread);
    FAILED(fdPoint("pread", fd, 0));
    return real_pread(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset)
{
    REAL(pread64);
    FAILED(fdPoint("pread64", fd, 0));
    return real_pread64(fd, buffer, count, offset);
}

ssize_t write(int fd, const void* buffer, size_t count)
{
    REAL(write);
    const enum verdict verdict = fdPoint("write", fd, count > 1);
    FAILED(verdict);
    if (verdict == TEAR) {
        real_write(fd, buffer, count / 2);
        die();
    }
    return real_write(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset)
{
    REAL(pwrite);
    const enum verdict verdict = fdPoint("pwrite", fd, count > 1);
    FAILED(verdict);
    if (verdict == TEAR) {
        real_pwrite(fd, buffer, count / 2, offset);
        die();
    }
    return real_pwrite(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset)
{
    REAL(pwrite64);
    const enum verdict verdict = fdPoint("pwrite64", fd, count > 1);
    FAILED(verdict);
    if (verdict == TEAR) {
        real_pwrite64(fd, buffer, count / 2, offset);
        die();
    }
    return real_pwrite64(fd, buffer, count, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int partCount)
{
    REAL(writev);
    size_t total = 0;
    for (int i = 0; i < partCount; ++i)
        total += parts[i].iov_len;
    const enum verdict verdict = fdPoint("writev", fd, total > 1);
    FAILED(verdict);
    if (verdict == TEAR) {
        // The first half of the bytes, which may end inside a part.
        size_t left = total / 2;
        for (int i = 0; i < partCount && left > 0; ++i) {
            const size_t n = parts[i].iov_len < left ? parts[i].iov_len : left;
            REAL(write);
            real_write(fd, parts[i].iov_base, n);
            left -= n;
        }
        die();
    }
    return real_writev(fd, parts, partCount);
}

#define FD_CALL(name, params, args, ...)                                                           \
    int name params                                                                                \
    {                                                                                              \
        REAL(name);                                                                                \
        FAILED(fdPoint(#name, fd, 0));                                                             \
        return real_##name args;                                                                   \
    }

#define SYNC_CALL(name)                                                                            \
    int name(int fd)                                                                               \
    {                                                                                              \
        REAL(name);                                                                                \
        const enum verdict verdict = fdPoint(#name, fd, 0);                                        \
        FAILED(verdict);                                                                           \
        return skipSync && verdict == COUNTED ? 0 : real_##name(fd);                               \
    }

SYNC_CALL(fsync)
SYNC_CALL(fdatasync)
FD_CALL(ftruncate, (int fd, off_t length), (fd, length))
FD_CALL(ftruncate64, (int fd, off64_t length), (fd, length))
FD_CALL(fchmod, (int fd, mode_t mode), (fd, mode))
FD_CALL(fstat, (int fd, struct stat* st), (fd, st))
FD_CALL(fstat64, (int fd, struct stat64* st), (fd, st))

// A close that fails has still released the descriptor, as the kernel's does.
int close(int fd)
{
    REAL(close);
    const enum verdict verdict = fdPoint("close", fd, 0);
    const int result = real_close(fd);
    FAILED(verdict);
    return result;
}

#define PATH_CALL(name, params, path, args)                                                        \
    int name params                                                                                \
    {                                                                                              \
        REAL(name);                                                                                \
        FAILED(pathPoint(#name, AT_FDCWD, path));                                                  \
        return real_##name args;                                                                   \
    }

PATH_CALL(truncate, (const char* path, off_t length), path, (path, length))
PATH_CALL(truncate64, (const char* path, off64_t length), path, (path, length))
PATH_CALL(unlink, (const char* path), path, (path))
PATH_CALL(chmod, (const char* path, mode_t mode), path, (path, mode))

int unlinkat(int dirFd, const char* path, int flags)
{
    REAL(unlinkat);
    FAILED(pathPoint("unlinkat", dirFd, path));
    return real_unlinkat(dirFd, path, flags);
}

int rename(const char* from, const char* to)
{
    REAL(rename);
    FAILED(twoPathPoint("rename", AT_FDCWD, from, AT_FDCWD, to));
    return real_rename(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    REAL(renameat);
    FAILED(twoPathPoint("renameat", fromDir, from, toDir, to));
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
{
    REAL(renameat2);
    FAILED(twoPathPoint("renameat2", fromDir, from, toDir, to));
    return real_renameat2(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to)
{
    REAL(link);
    FAILED(twoPathPoint("link", AT_FDCWD, from, AT_FDCWD, to));
    return real_link(from, to);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags)
{
    REAL(linkat);
    FAILED(twoPathPoint("linkat", fromDir, from, toDir, to));
    return real_linkat(fromDir, from, toDir, to, flags);
}
