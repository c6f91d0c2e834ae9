#pragma once

#include <QByteArray>
#include <QString>

// One log record as bytes for standard output and the activity log file, which
// keep one record per line and may be shown on a terminal: as
// FileNames::encode, but C0 control characters, DEL and C1 control
// characters become "\n", "\r", "\t" or "\xhh", so a file name can neither
// split a record, fake one nor send escape sequences to a terminal. A byte
// of 0x80 to 0x9F that is no part of valid UTF-8 is escaped too: in an 8-bit
// terminal it is a C1 character. Nothing else changes.
namespace RecordText {

QByteArray encode(const QString &line);

} // namespace RecordText
