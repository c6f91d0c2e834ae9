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

try:
    from fusepy import FUSE, FuseOSError, Operations  # Debian's name
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class CaseFolding(Operations):
    def __init__(self, root):
        self.root = root

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

    def access(self, path, mode):
        if not os.access(self._real(path), mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(self._real(path))
        return {k: getattr(st, k) for k in (
            'st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime', 'st_nlink', 'st_size',
            'st_uid', 'st_ino')}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._real(path))

    def chmod(self, path, mode):
        os.chmod(self._real(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self._real(path), uid, gid)

    def utimens(self, path, times=None):
        os.utime(self._real(path), ns=None if times is None else
                 tuple(int(t * 1e9) if isinstance(t, float) else t for t in times))

    def statfs(self, path):
        st = os.statvfs(self._real(path))
        return {k: getattr(st, k) for k in (
            'f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail', 'f_ffree', 'f_files',
            'f_flag', 'f_frsize', 'f_namemax')}

    def mkdir(self, path, mode):
        os.mkdir(self._new(path), mode)

    def rmdir(self, path):
        os.rmdir(self._real(path))

    def unlink(self, path):
        os.unlink(self._real(path))

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

    def release(self, path, fh):
        os.close(fh)

    def fsync(self, path, datasync, fh):
        os.fsync(fh)


if __name__ == '__main__':
    FUSE(CaseFolding(os.path.abspath(sys.argv[1])), sys.argv[2], foreground=True,
         nothreads=True, use_ino=True, hard_remove=True)
