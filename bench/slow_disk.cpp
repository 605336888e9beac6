// A slow disk for the journal's benchmark: a FUSE file system that passes every call through
// to a folder, but takes FSYNC_MS to sync a file and WRITE_US more for every write, as a
// busy or failing disk, a network share or an SD card may.
//   slow_disk FOLDER MOUNTPOINT FSYNC_MS WRITE_US     (stays in the foreground; fusermount3 -u)
// It also unmounts and ends with the process that started it, so that a test or benchmark
// that is killed leaves no dead mount behind.
#define FUSE_USE_VERSION 31
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fuse3/fuse.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string folder;
int fsyncMs = 0;
int writeUs = 0;

std::string real(const char *path)
{
    return folder + path;
}

int result(int r)
{
    return r < 0 ? -errno : r;
}

int onGetattr(const char *path, struct stat *st, fuse_file_info *)
{
    return result(::lstat(real(path).c_str(), st));
}

int onReaddir(const char *path, void *buf, fuse_fill_dir_t fill, off_t, fuse_file_info *,
              fuse_readdir_flags)
{
    DIR *dir = ::opendir(real(path).c_str());
    if (!dir)
        return -errno;
    while (const dirent *entry = ::readdir(dir))
        fill(buf, entry->d_name, nullptr, 0, fuse_fill_dir_flags(0));
    ::closedir(dir);
    return 0;
}

int onCreate(const char *path, mode_t mode, fuse_file_info *fi)
{
    const int fd = ::open(real(path).c_str(), fi->flags, mode);
    if (fd < 0)
        return -errno;
    fi->fh = std::uint64_t(fd);
    return 0;
}

int onOpen(const char *path, fuse_file_info *fi)
{
    const int fd = ::open(real(path).c_str(), fi->flags);
    if (fd < 0)
        return -errno;
    fi->fh = std::uint64_t(fd);
    return 0;
}

int onRead(const char *, char *buf, size_t size, off_t offset, fuse_file_info *fi)
{
    return result(int(::pread(int(fi->fh), buf, size, offset)));
}

int onWrite(const char *, const char *buf, size_t size, off_t offset, fuse_file_info *fi)
{
    std::this_thread::sleep_for(std::chrono::microseconds(writeUs));
    // Appends arrive with the offset of the end the kernel saw; O_APPEND keeps them whole.
    const ssize_t n = (fi->flags & O_APPEND) ? ::write(int(fi->fh), buf, size)
                                             : ::pwrite(int(fi->fh), buf, size, offset);
    return result(int(n));
}

int onFsync(const char *, int, fuse_file_info *fi)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(fsyncMs));
    return result(::fdatasync(int(fi->fh)));
}

int onRelease(const char *, fuse_file_info *fi)
{
    return result(::close(int(fi->fh)));
}

int onUnlink(const char *path)
{
    return result(::unlink(real(path).c_str()));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: slow_disk FOLDER MOUNTPOINT FSYNC_MS WRITE_US\n");
        return 2;
    }
    // SIGTERM ends fuse_main's loop, which then unmounts (lazily, should a file be open).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    folder = argv[1];
    fsyncMs = std::atoi(argv[3]);
    writeUs = std::atoi(argv[4]);
    fuse_operations ops{};
    ops.getattr = onGetattr;
    ops.readdir = onReaddir;
    ops.create = onCreate;
    ops.open = onOpen;
    ops.read = onRead;
    ops.write = onWrite;
    ops.fsync = onFsync;
    ops.release = onRelease;
    ops.unlink = onUnlink;
    char *args[] = {argv[0], argv[2], const_cast<char *>("-f"), nullptr};
    return fuse_main(3, args, &ops, nullptr);
}
