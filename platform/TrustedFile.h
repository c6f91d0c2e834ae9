#pragma once

#include <QString>

// Settings and texts that another user could have written must not steer a
// program run as root (from a system timer, over shared folders).
namespace TrustedFile {

// Why the file must not be used, or an empty text when it may be (or is
// missing). A link is followed only to a file of the link's own owner. Run
// as root (effective user 0), as sshd's StrictModes asks, the file must
// belong to root and be writable by no one else, and so must the folder that
// holds it; the folders above it must be root's and writable by no one else
// unless they are sticky (/tmp).
QString refusal(const QString &file);

} // namespace TrustedFile
