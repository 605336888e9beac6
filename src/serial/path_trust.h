#pragma once

namespace dorq {

// Whether a program running as root may open a path that another user could have laid
// out for it: a link to a file of root's, planted where the user can write. An ordinary
// user can reach through a link only what that user may reach anyway: always Follow.
enum class PathTrust {
    Follow,   // open as usual
    NoFollow, // the folder is writable by others: open without following a final link
    Refuse,   // a link owned by another user, or lying in a folder others can write
};

// System calls and the stack only, so that a forked child may call it.
PathTrust pathTrust(const char *path) noexcept;

} // namespace dorq
