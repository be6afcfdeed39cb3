#pragma once

#include <QByteArray>

#include <vector>

// Small helpers the benchmarks share: medians, quiet runs of the reference
// tools, and the process and machine figures they print.
namespace BenchSupport {
double median(std::vector<double> values);
// Runs a program with its output thrown away; false unless it exits 0.
bool runQuietly(const std::vector<QByteArray>& args);
QByteArray loadAverage();
// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
qint64 statusKb(const char* field);
} // namespace BenchSupport
