#include "path_trust.h"

#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace dorq {

namespace {

// Writable by someone other than root: its owner, a group with members, or everyone.
bool othersCanWrite(const struct stat &folder)
{
    return folder.st_uid != 0 || (folder.st_mode & S_IWOTH) ||
           ((folder.st_mode & S_IWGRP) && folder.st_gid != 0);
}

} // namespace

PathTrust pathTrust(const char *path) noexcept
{
    if (::geteuid() != 0)
        return PathTrust::Follow;
    char folder[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof folder)
        return PathTrust::Refuse;
    std::memcpy(folder, path, length + 1);
    char *slash = std::strrchr(folder, '/');
    if (!slash)
        std::strcpy(folder, ".");
    else
        slash[slash == folder ? 1 : 0] = '\0';

    struct stat folderStat = {}, fileStat = {};
    const bool openFolder = ::stat(folder, &folderStat) != 0 || othersCanWrite(folderStat);
    if (::lstat(path, &fileStat) == 0 && S_ISLNK(fileStat.st_mode) &&
        (fileStat.st_uid != 0 || openFolder))
        return PathTrust::Refuse;
    return openFolder ? PathTrust::NoFollow : PathTrust::Follow;
}

} // namespace dorq
