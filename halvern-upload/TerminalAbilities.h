#pragma once
// What the terminal of standard error can do, as its terminfo entry tells: the sequences that
// return the cursor, move it up and erase, where the terminal has them. A terminal without
// them (TERM=dumb, an unknown or missing TERM) cannot have lines redrawn in place.

#include <QByteArray>

namespace halvern::cli {

struct TerminalAbilities {
    QByteArray back_to_line_start;      // cr
    QByteArray erase_to_line_end;    // el
    QByteArray erase_to_screen_end;  // ed
    QByteArray up_lines;            // cuu, with the number of lines as its parameter
    QByteArray up_one_line;        // cuu1

    // The cursor can go back to an earlier line and rewrite it.
    bool can_redraw() const;
    // The cursor count lines up; empty for 0.
    QByteArray up(int count) const;
};

// The entry of terminal type term (the value of TERM); nothing for a type terminfo does not know.
TerminalAbilities terminal_abilities(const QByteArray& term);

}  // namespace halvern::cli
