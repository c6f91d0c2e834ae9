#pragma once

#include <QByteArray>

#include <cstdio>

// Standard output of a command-line run, whose lines a script relies on.
// Every write goes out at once; the first failure (a full disk, a reader
// gone, a descriptor that was closed at start) is reported once on standard
// error as "pallwick: write error: reason", and the run must then end with a
// status of at least 1. Writing goes on after a failure: a pass is never cut
// short because its output went away.
class StandardOutput
{
public:
    // Descriptors 0, 1 and 2 that are closed are opened on /dev/null. Called
    // first thing at start-up: any file opened later would otherwise take
    // such a number, and lines meant for standard output could land in a
    // copy. A standard output found closed counts as a failed write.
    static void openClosedOnDevNull();

    explicit StandardOutput(FILE *out = stdout, FILE *err = stderr);

    void write(const QByteArray &bytes);
    // Flushes and closes the stream. False when any write failed.
    bool close();
    bool failed() const { return m_failed; }

private:
    void fail(int error);

    FILE *m_out;
    FILE *m_err;
    bool m_failed = false;
    bool m_closed = false;
};
