#pragma once

#include <QtGlobal>

// How far the copy of the current file has come. The thread that copies
// writes it, the window's thread reads it; the program copies one file at a
// time.
namespace CopyProgress {

// Only a copy above this size shows its share done: a smaller one is over
// before anyone could read it.
constexpr qint64 ShownAbove = qint64(64) << 20;

void begin(qint64 total);
// done: the bytes from the start of the file that are copied.
void advance(qint64 done);
void end();

// Percent done of the file being copied when it is above ShownAbove; -1
// otherwise.
int percent();

// Called on the copying thread at every step; for tests (nullptr: none).
using Observer = void (*)(qint64 done, qint64 total);
void setObserver(Observer observer);

// begin() now, end() on every way out of the scope.
class Scope
{
public:
    explicit Scope(qint64 total) { begin(total); }
    ~Scope() { end(); }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
};

} // namespace CopyProgress
