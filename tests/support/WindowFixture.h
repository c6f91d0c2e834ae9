#pragma once

#include "app/Prompt.h"
#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/UserStore.h"
#include "settings/modFolder.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

// A program folder of its own for each window under test: the settings file,
// one language, empty src and dst folders, a user store, and a fixed clock.
struct WindowFixture
{
    std::unique_ptr<QTemporaryDir> dir;
    FixedClock clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};
    QByteArray language;
    FileSystem *fs = nullptr; // the real one when not set

    QString path(const QString &name) const { return dir->filePath(name); }
    QString ini() const { return path("Pallwick.ini"); }
    QByteArray settings() const { return fileBytes(ini()); }

    void setUp(const QByteArray &languageName, const QByteArray &texts)
    {
        dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"lang", "src", "dst", "store"})
            QVERIFY(QDir(dir->path()).mkpath(folder));
        language = languageName;
        writeFile(path("lang/" + languageName + ".dat"), texts);
        UserStore::setLocation(path("store"));
    }

    void tearDown()
    {
        Prompt::setHook({});
        modFolder::setBrowseHook({});
        dir.reset();
        fs = nullptr;
    }

    // Settings with both folders present and the fixture's language.
    void writeJob(const QByteArray &extra = {})
    {
        writeFile(ini(), "[Options]\nLanguage=" + language + "\nFrom=" + path("src").toUtf8() +
                             "\nTo=" + path("dst").toUtf8() + "\n" + extra);
    }

    // The window on writeJob(extra)'s settings.
    std::unique_ptr<frmMain> openJob(const QByteArray &extra = {},
                                     const QStringList &arguments = {})
    {
        writeJob(extra);
        return open(arguments);
    }

    std::unique_ptr<frmMain> open(const QStringList &arguments = {}, bool closeOnRequests = false)
    {
        frmMain::Environment env;
        env.programFolder = dir->path();
        env.clock = &clock;
        env.fs = fs;
        env.closeOnRequests = closeOnRequests;
        return std::make_unique<frmMain>(arguments, env);
    }

    static QStringList lines(frmMain &w)
    {
        QStringList lines;
        for (int i = 0; i < w.activityLog().count(); ++i)
            lines << w.activityLog().line(i);
        return lines;
    }

    // Runs action the first time the pass lets events run while busy with
    // its files (events may also run earlier, while it lists the folder).
    static void whenBusy(frmMain &w, std::function<void()> action)
    {
        QTimer::singleShot(0, &w, [&w, action] {
            if (w.Busy)
                action();
            else
                whenBusy(w, action);
        });
    }
};
