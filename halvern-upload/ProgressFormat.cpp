#include "halvern-upload/ProgressFormat.h"

#include <algorithm>
#include <cmath>

namespace halvern::cli {

int percent_done(const ProgressSample& sample) {
    if (!(sample.maximum > 0)) return 0;
    const double p = std::floor(sample.value * 100.0 / sample.maximum);
    return static_cast<int>(std::clamp(p, 0.0, 100.0));
}

QString format_bytes(std::int64_t bytes) {
    if (bytes < 1000) return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1000 * 1000) return QStringLiteral("%1 kB").arg(static_cast<double>(bytes) / 1000.0, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / 1e6, 0, 'f', 1);
}

QString format_rate(const ProgressSample& sample) {
    if (sample.elapsed_ms < 100) return QStringLiteral("-");
    const auto per_second = static_cast<std::int64_t>(static_cast<double>(sample.bytes) * 1000.0 /
                                                      static_cast<double>(sample.elapsed_ms));
    return format_bytes(per_second) + QStringLiteral("/s");
}

QString format_time_left(const ProgressSample& sample) {
    const double fraction = sample.maximum > 0 ? std::clamp(sample.value / sample.maximum, 0.0, 1.0) : 0.0;
    if (fraction <= 0 || sample.elapsed_ms < 100) return QStringLiteral("--:--");
    const auto left = static_cast<std::int64_t>(
        std::ceil(static_cast<double>(sample.elapsed_ms) * (1.0 - fraction) / fraction / 1000.0));
    const std::int64_t h = left / 3600, m = (left / 60) % 60, s = left % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString progress_bar_line(const ProgressSample& sample, int width) {
    const int p = percent_done(sample);
    width = std::max(width, 1);
    const int filled = p * width / 100;
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.')) +
           QStringLiteral("] %1%  %2  %3  %4 left")
               .arg(p, 3)
               .arg(format_bytes(sample.bytes), format_rate(sample), format_time_left(sample));
}

QString progress_plain_line(const ProgressSample& sample) {
    return QStringLiteral("Uploaded %1%, %2, %3, %4 left")
        .arg(percent_done(sample), 3)
        .arg(format_bytes(sample.bytes), format_rate(sample), format_time_left(sample));
}

int plain_line_due(int printed_percent, int percent, int step) {
    const int reached = percent / step * step;
    return reached > printed_percent && reached > 0 ? reached : -1;
}

}  // namespace halvern::cli
