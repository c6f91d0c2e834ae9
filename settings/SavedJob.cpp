#include "settings/SavedJob.h"

#include "settings/modIniHandler.h"

SavedJob SavedJob::read()
{
    const QString options = QStringLiteral("Options");
    SavedJob job;
    job.source = ReadIniPath(options, QStringLiteral("From"));
    job.destination = ReadIniPath(options, QStringLiteral("To"));
    const QString action = ReadIni(options, QStringLiteral("Action"), QStringLiteral("Copy"), 256);
    if (action == QLatin1String("Copy"))
        job.move = false;
    else if (action == QLatin1String("Move"))
        job.move = true;
    job.overwrite = ReadIni(options, QStringLiteral("Overwrite"), QStringLiteral("0"), 256) ==
                    QLatin1String("1");
    return job;
}
