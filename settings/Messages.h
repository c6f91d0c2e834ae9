#pragma once

#include <QString>

#include <array>

// The main window's message table: entry i is language key "t" + i.
enum MsgId : int
{
    msgSourceFolder = 0,
    msgDestFolder = 1,
    msgInterval = 2,
    msgLog = 3,
    msgMinute = 4,
    msgMinutes = 5,
    msgMoveFiles = 6,
    msgCopyFiles = 7,
    msgOverwrite = 8,
    msgShowLog = 9,
    msgUnused10 = 10,
    msgStop = 11,
    msgStart = 12,
    msgQuit = 13,
    msgTitleWaiting = 14,
    msgTitleBusy = 15,
    msgTitleStopped = 16,
    msgNextIn = 17,
    msgInfo = 18,
    msgNoFiles = 19,
    msgNoSpace = 20,
    msgNotMoved = 21,
    msgNotCopied = 22,
    msgOverwritten = 23,
    msgFileExists = 24,
    msgCopied = 25,
    msgMoved = 26,
    msgCopying = 27,
    msgMoving = 28,
    msgFile = 29,
    msgFiles = 30,
    msgResult = 31,
    msgCancel = 32,
    msgStarted = 33,
    msgStopped = 34,
    msgError = 35,
    msgSaveTitle = 36,
    msgSaveSettings = 37,
    msgSettings = 38,
};

constexpr int MessageCount = 39;
using MessageTable = std::array<QString, MessageCount>;

// The text of key ("t44") in the current language file; "" when missing.
QString languageText(const QString &key);

// The text of an optional key, or english where the language file lacks it.
QString languageText(const QString &key, const QString &english);

// Reads t0..t38 from the current language file; missing keys are empty.
MessageTable loadMessageTable();

// "Pallwick Lite - " + state text: every window title starts so.
inline QString appTitle(const QString &state)
{
    return QStringLiteral("Pallwick Lite - ") + state;
}
