#pragma once

#include <QString>

// Registers BM_Add/records on linkFile, a file of that many typical records. Every iteration
// leaves the file as it found it.
void registerAddBenchmark(int records, const QString& linkFile);
