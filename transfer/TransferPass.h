#pragma once

class Clock;
class FileSystem;
class PassHost;

// One pass over the source folder: copies or moves every plain file into the
// destination folder and logs each file's outcome. Runs on the UI thread; each
// copy, move or delete runs on a worker thread while the UI thread keeps
// processing events. Never throws; every failure becomes an error line.
class TransferPass
{
public:
    TransferPass(PassHost &host, FileSystem &fs, const Clock &clock);

    // DoAction
    void run();

private:
    PassHost &m_host;
    FileSystem &m_fs;
    const Clock &m_clock;
};
