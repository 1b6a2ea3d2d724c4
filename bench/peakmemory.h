#pragma once

#include <QtGlobal>

// Peak resident memory of this process image, in bytes; one file per system.
qint64 peakResidentBytes();
