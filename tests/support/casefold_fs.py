#!/usr/bin/python3
"""A folder that ignores letter case, as a USB stick or an SMB share does.

Mounts BACKING at MOUNTPOINT through FUSE: a name finds an entry whatever its
letter case, and a new name that matches an entry in another case is taken.
No unnamed temporary files, as on most such file systems.
Usage: casefold_fs.py BACKING MOUNTPOINT (runs in the foreground).
"""
import errno
import os
import sys

from passthrough_fs import FuseOSError, Passthrough, mount


class CaseFolding(Passthrough):
    def _real(self, path):
        """The backing path for path; a missing last part keeps its spelling."""
        real = self.root
        for part in [p for p in path.split('/') if p]:
            candidate = os.path.join(real, part)
            if not os.path.lexists(candidate) and os.path.isdir(real):
                for entry in os.listdir(real):
                    if entry.casefold() == part.casefold():
                        candidate = os.path.join(real, entry)
                        break
            real = candidate
        return real

    def _new(self, path):
        real = self._real(path)
        if os.path.lexists(real):
            raise FuseOSError(errno.EEXIST)
        return real

    def mkdir(self, path, mode):
        os.mkdir(self._new(path), mode)

    def link(self, target, source):
        os.link(self._real(source), self._new(target))

    def rename(self, old, new):
        real_new = self._real(new)
        real_old = self._real(old)
        if os.path.lexists(real_new) and real_new != real_old:
            os.unlink(real_new)  # a plain rename replaces, whatever the case
        os.rename(real_old, real_new)

    def open(self, path, flags):
        return os.open(self._real(path), flags)

    def create(self, path, mode, fi=None):
        real = self._real(path)
        return os.open(real, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, length, offset, fh):
        return os.pread(fh, length, offset)

    def write(self, path, buf, offset, fh):
        return os.pwrite(fh, buf, offset)

    def truncate(self, path, length, fh=None):
        if fh is None:
            os.truncate(self._real(path), length)
        else:
            os.ftruncate(fh, length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)


if __name__ == '__main__':
    mount(CaseFolding(os.path.abspath(sys.argv[1])), sys.argv[2])
