// The other side of each case: the shell commands a user would otherwise run.
#include "Bench.h"

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace bench {

double runCommand(const QStringList &arguments)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    const auto start = Clock_::now();
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0)
        die(QStringLiteral("cannot start %1: %2").arg(arguments[0], errnoText(error)));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(QStringLiteral("%1 failed (status %2)")
                .arg(arguments.join(QLatin1Char(' ')))
                .arg(status));
    return seconds;
}

QStringList copyCommand(const QString &source, const QString &destination)
{
    return {QStringLiteral("cp"), QStringLiteral("-pR"), source + QStringLiteral("/."),
            destination + QLatin1Char('/')};
}

QStringList moveCommand(const QString &source, const QString &destination)
{
    return {QStringLiteral("find"),      source,
            QStringLiteral("-maxdepth"), QStringLiteral("1"),
            QStringLiteral("-type"),     QStringLiteral("f"),
            QStringLiteral("-exec"),     QStringLiteral("mv"),
            QStringLiteral("-t"),        destination,
            QStringLiteral("--"),        QStringLiteral("{}"),
            QStringLiteral("+")};
}

QStringList durableCopyCommand(const QString &source, const QString &destination)
{
    return {QStringLiteral("sh"),
            QStringLiteral("-c"),
            QStringLiteral("cp -pR \"$1/.\" \"$2/\" && sync -f \"$2\""),
            QStringLiteral("sh"),
            source,
            destination};
}

bool onPath(const char *program)
{
    for (const QString &folder : qEnvironmentVariable("PATH").split(QLatin1Char(':')))
        if (!folder.isEmpty() &&
            ::access(
                QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(program)).constData(),
                X_OK) == 0)
            return true;
    return false;
}

} // namespace bench
