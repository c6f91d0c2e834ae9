#include "Bench.h"

#include "app/frmMain.h"
#include "settings/modGlobal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/times.h>
#include <unistd.h>
#include <vector>

namespace bench {
namespace {

constexpr int QuietSeconds = 1;
constexpr int ArrivalFiles = 20;
constexpr int IdleSeconds = 60;

struct ArrivalFigures
{
    double medianSeconds = 0;
    double worstSeconds = 0;
    double idleSeconds = 0;
    long idleTicks = 0; // user + system, in clock ticks
};

constexpr int MaxWaitMs = 20000;

long processTicks()
{
    struct tms t;
    ::times(&t);
    return long(t.tms_utime + t.tms_stime);
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

ArrivalFigures measureArrival(const QString &root, const QString &programFolder)
{
    const int files = ArrivalFiles;
    const QString src = root + QStringLiteral("/arrival-src");
    const QString dst = root + QStringLiteral("/arrival-dst");
    for (const QString &folder : {src, dst})
        if (!QDir().mkpath(folder))
            die(QStringLiteral("cannot make %1").arg(folder));
    QFile ini(programFolder + QStringLiteral("/Pallwick.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        die(QStringLiteral("cannot write %1").arg(ini.fileName()));
    ini.write("[Options]\nLanguage=Deutsch\nFrom=" + QFile::encodeName(src) +
              "\nTo=" + QFile::encodeName(dst) + "\nAction=Copy\nInterval=560\nRunOnArrival=1\n" +
              "QuietSeconds=" + QByteArray::number(QuietSeconds) + "\n");
    ini.close();

    frmMain::Environment env;
    env.programFolder = programFolder;
    frmMain window(QStringList{QStringLiteral("/s")}, env);
    window.show();
    if (!window.Running)
        die(QStringLiteral("the window did not start its job"));
    spin(200);

    ArrivalFigures figures;
    std::vector<double> latencies;
    const QByteArray content(4096, 'a');
    for (int i = 0; i < files; ++i) {
        const QByteArray name = "arrived-" + QByteArray::number(i) + ".dat";
        const QByteArray path = QFile::encodeName(src) + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.constData(), content.size()) != content.size())
            die(QStringLiteral("cannot write %1").arg(QString::fromLocal8Bit(path)));
        QElapsedTimer clock;
        ::close(fd); // the file is complete from here on
        clock.start();
        const QString target = dst + QLatin1Char('/') + QString::fromLatin1(name);
        while (!QFile::exists(target)) {
            if (clock.elapsed() > MaxWaitMs)
                die(QStringLiteral("%1 did not arrive within %2 s")
                        .arg(target)
                        .arg(MaxWaitMs / 1000));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        latencies.push_back(double(clock.nsecsElapsed()) / 1e9);
        // The next file is a new arrival, not part of this one's quiet time.
        while (window.passRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        spin(100);
    }
    std::sort(latencies.begin(), latencies.end());
    figures.medianSeconds = (latencies[(files - 1) / 2] + latencies[files / 2]) / 2;
    figures.worstSeconds = latencies.back();

    // Idle with the trigger on: the minute timer and the watch only.
    spin(1000);
    const long before = processTicks();
    QElapsedTimer idle;
    idle.start();
    spin(IdleSeconds * 1000);
    figures.idleTicks = processTicks() - before;
    figures.idleSeconds = double(idle.elapsed()) / 1000;
    return figures;
}

} // namespace

void runArrival(const Bench &b)
{
    const QString mountPoint = b.root + QStringLiteral("/tmpfs-arrival");
    const TmpfsMount mount(mountPoint, 64);
    const QString where = mount.mounted() ? mountPoint : b.root;
    const ArrivalFigures a = measureArrival(where, b.program);
    std::printf("\narrival latency (%s): a closed file is in the destination after %.2f s "
                "(median of %d, worst %.2f s), quiet time %d s, target <= %d s, %s\n",
                qPrintable(fsTypeName(where)), a.medianSeconds, ArrivalFiles, a.worstSeconds,
                QuietSeconds, QuietSeconds + 1,
                qPrintable(verdict(a.medianSeconds <= QuietSeconds + 1)));
    std::printf("idle with the trigger on: %ld clock ticks of processor time in %.0f s "
                "(1 tick = %.0f ms), target <= 1, %s\n",
                a.idleTicks, a.idleSeconds, 1000.0 / double(::sysconf(_SC_CLK_TCK)),
                qPrintable(verdict(a.idleTicks <= 1)));
    std::fflush(stdout);
}

} // namespace bench
