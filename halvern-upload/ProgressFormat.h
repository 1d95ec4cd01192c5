#pragma once
// What the terminal shows of a transfer in place of the progress window: a bar redrawn in
// place when standard error is a terminal, a plain line every tenth otherwise.

#include <QString>

#include <cstdint>

namespace halvern::cli {

struct ProgressSample {
    double value = 0;          // the progress bar's value ...
    double maximum = 100;      // ... and maximum, as the upload sets them
    std::int64_t bytes = 0;    // bytes written to the line since the transfer began
    std::int64_t elapsed_ms = 0;
};

// Whole percent done, 0 to 100 (a bar without range counts as 0).
int percent_done(const ProgressSample& sample);
// "3 B", "999 B", "1.0 kB", "12.3 kB", "1.5 MB" (powers of 1000).
QString format_bytes(std::int64_t bytes);
// Bytes a second as "1.2 kB/s"; "-" until a tenth of a second has passed.
QString format_rate(const ProgressSample& sample);
// The time left at the rate so far as "M:SS" (or "H:MM:SS"); "--:--" while it cannot be told.
QString format_time_left(const ProgressSample& sample);

// "[##########..........]  50%  12.3 kB  1.2 kB/s  0:10 left", the bar width cells wide.
QString progress_bar_line(const ProgressSample& sample, int width);
// "Uploaded  50%, 12.3 kB, 1.2 kB/s, 0:10 left"
QString progress_plain_line(const ProgressSample& sample);

// The plain lines: a line is due when the percent reaches the next multiple of step above the
// last one printed (printed_percent, -1 before the first). Returns the multiple reached, or -1.
int plain_line_due(int printed_percent, int percent, int step = 10);

}  // namespace halvern::cli
