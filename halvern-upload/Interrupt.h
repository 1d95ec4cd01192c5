#pragma once
// Ctrl-C. Outside the moments that guard the projector it ends the program at once, as a
// signal does. While guarded (the cool-down wait, and from the request for upload mode to the
// end of the transfer) it only raises a flag, which the wait and the upload's yields check.
//
// SIGTERM and SIGHUP never end the program at once: a service stop (SIGTERM) is counted, so
// that the run keeps every projector out of upload mode from the first and stops the
// transfers after the second; a hang-up (SIGHUP) is noted, and the run goes on without its
// terminal. SIGPIPE is ignored: output that can no longer be shown is dropped.

namespace halvern::cli::interrupt {

// Installs the handlers of SIGINT (unguarded), SIGTERM and SIGHUP; ignores SIGPIPE.
void install();
// How many times SIGTERM came.
int terminations();
// Whether SIGHUP came: the terminal is gone.
bool hung_up();
// Raise the flags as the signals do (tests).
void raise_termination();
void raise_hang_up();
// Forgets every SIGTERM and SIGHUP (tests).
void forget_stops();
// Guarded: Ctrl-C raises the flag. Unguarded: Ctrl-C ends the program.
void set_guarded(bool guarded);
bool guarded();
// True once if Ctrl-C was pressed since the last call.
bool take();
// True if Ctrl-C was pressed and not yet taken; the flag stays.
bool pending();
// Raises the flag as Ctrl-C does (tests).
void raise_flag();
// Waits up to ms milliseconds; true when Ctrl-C came (the flag is then taken). With
// wake_on_termination a SIGTERM ends the wait too (false is returned).
bool wait(int ms, bool wake_on_termination = false);
// Sleeps up to ms milliseconds, or until any of the signals above comes (nothing is taken).
void sleep_until_signal(int ms);
// A descriptor that becomes readable when Ctrl-C comes, whichever thread the signal reached;
// for poll() beside other descriptors. -1 when it could not be made.
int wake_descriptor();
// Empties wake_descriptor() of wake-ups whose flag has been taken already.
void clear_wakes();
// Ends the waits above without raising any flag: another thread has news for the one that
// waits (a port of the fleet has ended). Does nothing before the descriptor is made.
void wake_up();

// Guards the projector for the lifetime of the object, then restores what was before.
class Guard {
public:
    Guard() : before_(guarded()) { set_guarded(true); }
    ~Guard() { set_guarded(before_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    bool before_;
};

}  // namespace halvern::cli::interrupt
