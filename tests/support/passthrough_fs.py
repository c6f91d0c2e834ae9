"""What the FUSE file systems of the tests share: every call passed on to the
folder BACKING, which subclasses change where they differ from it."""
import errno
import os

try:
    from fusepy import FUSE, FuseOSError, Operations  # Debian's name
except ImportError:
    from fuse import FUSE, FuseOSError, Operations

__all__ = ['FUSE', 'FuseOSError', 'Passthrough', 'mount']


class Passthrough(Operations):
    def __init__(self, root):
        self.root = root

    def _real(self, path):
        return os.path.join(self.root, path.lstrip('/'))

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
        os.mkdir(self._real(path), mode)

    def rmdir(self, path):
        os.rmdir(self._real(path))

    def unlink(self, path):
        os.unlink(self._real(path))

    def release(self, path, fh):
        os.close(fh)


def mount(operations, mountpoint, **options):
    """Serves operations at mountpoint in the foreground until unmounted. An
    open file whose name goes is forgotten at once, unless hard_remove=False."""
    FUSE(operations, mountpoint, **dict(dict(foreground=True, nothreads=True, use_ino=True,
                                             hard_remove=True), **options))
