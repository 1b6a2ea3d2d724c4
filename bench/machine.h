#pragma once

#include <QString>

// What the benchmark reports of the machine and of itself, one file per
// system.

// Peak resident memory of this process image, in bytes.
qint64 peakResidentBytes();
// The processor's model name, or "unknown".
QString cpuModel();
// The machine's memory, in GiB; 0 when unknown.
double memoryGiB();
