#include "halvern-upload/TerminalAbilities.h"

#include <curses.h>
#include <term.h>

#include <mutex>

namespace halvern::cli {

namespace {

// A string capability; absent, cancelled or not a string: empty.
QByteArray capability(const char* name) {
    const char* value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<const char*>(-1)) return {};
    return QByteArray(value);
}

}  // namespace

bool TerminalAbilities::can_redraw() const {
    return !back_to_line_start.isEmpty() && !erase_to_line_end.isEmpty() && !erase_to_screen_end.isEmpty() &&
           (!up_lines.isEmpty() || !up_one_line.isEmpty());
}

QByteArray TerminalAbilities::up(int count) const {
    if (count <= 0) return {};
    if (!up_lines.isEmpty()) {
        // tiparm fills a buffer of the library's own: one caller at a time.
        static std::mutex formatting;
        std::lock_guard lock(formatting);
        if (const char* text = tiparm(up_lines.constData(), count)) return QByteArray(text);
    }
    return up_one_line.repeated(count);
}

TerminalAbilities terminal_abilities(const QByteArray& term) {
    TerminalAbilities abilities;
    if (term.isEmpty()) return abilities;
    // setupterm reads the entry into the library's current terminal; it is copied out and
    // the terminal given back, since nothing else here draws through the library.
    static std::mutex reading;
    std::lock_guard lock(reading);
    int error = 0;
    if (setupterm(term.constData(), 2, &error) != OK) return abilities;
    abilities.back_to_line_start = capability("cr");
    abilities.erase_to_line_end = capability("el");
    abilities.erase_to_screen_end = capability("ed");
    abilities.up_lines = capability("cuu");
    abilities.up_one_line = capability("cuu1");
    del_curterm(cur_term);
    return abilities;
}

}  // namespace halvern::cli
