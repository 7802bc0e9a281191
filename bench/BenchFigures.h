#pragma once

#include <QElapsedTimer>
#include <QList>
#include <algorithm>

// The figures every benchmark prints of a series of samples, in milliseconds.
struct Figures
{
    double median = 0;
    double p95 = 0;
    double min = 0;
    double max = 0;
};

inline Figures summarise(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples.at(qMin(samples.size() - 1, qsizetype(q * samples.size()))); };
    return { at(0.5), at(0.95), samples.first(), samples.last() };
}

inline double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}
