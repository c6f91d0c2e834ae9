#pragma once

#include <QString>

// The n-th other name for a file whose name is taken: "report (1).txt". The
// number goes before the last dot; a dot-file (".bashrc") and a name without
// a dot get it at the end.
QString numberedName(const QString &name, int n);
