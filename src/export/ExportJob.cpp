#include "export/ExportJob.h"

#include <algorithm>
#include <cmath>

void ExportJob::reportProgress(double fraction)
{
    if (!onProgress || !std::isfinite(fraction))
        return;
    const int percent = int(std::clamp(fraction, 0.0, 1.0) * 100);
    int last = m_lastPercent.load();
    // One report per percent, from whichever thread gets there first.
    while (percent > last) {
        if (m_lastPercent.compare_exchange_weak(last, percent)) {
            onProgress(double(percent) / 100.0);
            return;
        }
    }
}
