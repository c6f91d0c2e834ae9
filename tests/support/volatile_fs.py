#!/usr/bin/python3
"""A drive that loses what was not synced, as a FUSE or network drive does.

Mounts BACKING at MOUNTPOINT through FUSE. Names (create, link, rename,
unlink) reach BACKING at once; written data stays in this process's cache
until the file is fsynced. A lookup of /.power-off drops every unsynced byte,
as a power failure would; BACKING then holds what survived.
Options:
  --capacity BYTES  an fsync that would make BACKING hold more fails ENOSPC
  --fail fsync      every fsync fails with EIO
  --fail close      every close (FUSE flush) fails with EIO
  --fail first-close  the first close of each open file fails with EIO, later
                    ones succeed: a network drive reports a write error once
  --fail later-close  every close of an open file but its first fails with EIO
  --fail fsyncdir   every fsync of a folder fails with EIO
  --fail read       every read fails with EIO, as on a failing medium
  --delay-ms N      every fsync takes N ms more, as a slow drive's does
  --no-ctime        the modification time stands in for the change time, as
                    on sshfs (SFTP knows no change time); as there, an open
                    file stays readable after its name is gone
No unnamed temporary files, no syncfs, as on most such file systems.
Usage: volatile_fs.py [options] BACKING MOUNTPOINT (runs in the foreground).
"""
import argparse
import errno
import os
import time

from passthrough_fs import FuseOSError, Passthrough, mount

POWER_OFF = '/.power-off'


class Volatile(Passthrough):
    def __init__(self, root, capacity, fail, delay, no_ctime=False):
        super().__init__(root)
        self.no_ctime = no_ctime
        self.capacity = capacity
        self.fail = fail
        self.delay = delay
        self.dirty = {}  # backing inode -> bytearray, the file's unsynced content
        self.closed = set()  # open files closed once (descriptors shared by dup)

    def _content(self, fh):
        """The cached content of an open file, made from BACKING on first use."""
        ino = os.fstat(fh).st_ino
        if ino not in self.dirty:
            size = os.fstat(fh).st_size
            self.dirty[ino] = bytearray(os.pread(fh, size, 0))
        return self.dirty[ino]

    def _used(self):
        return sum(os.lstat(os.path.join(folder, name)).st_size
                   for folder, _, names in os.walk(self.root) for name in names)

    def getattr(self, path, fh=None):
        if path == POWER_OFF:
            self.dirty.clear()
            raise FuseOSError(errno.ENOENT)
        attrs = super().getattr(path, fh)
        if attrs['st_ino'] in self.dirty:
            attrs['st_size'] = len(self.dirty[attrs['st_ino']])
        if self.no_ctime:
            attrs['st_ctime'] = attrs['st_mtime']
        return attrs

    def link(self, target, source):
        os.link(self._real(source), self._real(target))

    def rename(self, old, new):
        os.rename(self._real(old), self._real(new))

    def open(self, path, flags):
        # Read and write whatever was asked: the cache is made from BACKING.
        fh = os.open(self._real(path), flags & ~(os.O_ACCMODE | os.O_APPEND) | os.O_RDWR)
        if flags & os.O_TRUNC:
            self.dirty.pop(os.fstat(fh).st_ino, None)
        return fh

    def create(self, path, mode, fi=None):
        fh = os.open(self._real(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)
        self.dirty.pop(os.fstat(fh).st_ino, None)  # an inode number used again
        return fh

    def read(self, path, length, offset, fh):
        if self.fail == 'read':
            raise FuseOSError(errno.EIO)
        ino = os.fstat(fh).st_ino
        if ino in self.dirty:
            return bytes(self.dirty[ino][offset:offset + length])
        return os.pread(fh, length, offset)

    def write(self, path, buf, offset, fh):
        content = self._content(fh)
        if len(content) < offset:
            content.extend(bytes(offset - len(content)))
        content[offset:offset + len(buf)] = buf
        return len(buf)

    def truncate(self, path, length, fh=None):
        if fh is None:
            fh = os.open(self._real(path), os.O_RDWR)
            try:
                self.truncate(path, length, fh)
            finally:
                os.close(fh)
            return
        content = self._content(fh)
        if len(content) > length:
            del content[length:]
        else:
            content.extend(bytes(length - len(content)))

    def flush(self, path, fh):
        first = fh not in self.closed
        self.closed.add(fh)
        if self.fail == 'close' or self.fail == ('first-close' if first else 'later-close'):
            raise FuseOSError(errno.EIO)
        return 0

    def release(self, path, fh):
        self.closed.discard(fh)
        super().release(path, fh)

    def fsyncdir(self, path, datasync, fh):
        if self.fail == 'fsyncdir':
            raise FuseOSError(errno.EIO)
        return 0

    def fsync(self, path, datasync, fh):
        if self.delay:
            time.sleep(self.delay / 1000)
        if self.fail == 'fsync':
            raise FuseOSError(errno.EIO)
        ino = os.fstat(fh).st_ino
        if ino not in self.dirty:
            return 0
        content = self.dirty[ino]
        grows = len(content) - os.fstat(fh).st_size
        if self.capacity is not None and self._used() + grows > self.capacity:
            raise FuseOSError(errno.ENOSPC)
        os.pwrite(fh, bytes(content), 0)
        os.ftruncate(fh, len(content))
        del self.dirty[ino]
        return 0


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--capacity', type=int)
    parser.add_argument('--fail', choices=['fsync', 'close', 'first-close', 'later-close', 'fsyncdir', 'read'])
    parser.add_argument('--delay-ms', type=int, default=0)
    parser.add_argument('--no-ctime', action='store_true')
    parser.add_argument('backing')
    parser.add_argument('mountpoint')
    args = parser.parse_args()
    mount(Volatile(os.path.abspath(args.backing), args.capacity, args.fail, args.delay_ms,
                   args.no_ctime),
          args.mountpoint, big_writes=True, max_write=131072, hard_remove=not args.no_ctime)
