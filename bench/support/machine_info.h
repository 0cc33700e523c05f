#pragma once

#include <QString>

// One line about the machine a measurement ran on: cores, CPU model, kernel, Qt.
QString DescribeMachine();
// The "model name" of the first processor in the text of /proc/cpuinfo; empty when none.
QString CpuModel(const QByteArray &cpuinfo);
