#pragma once
// Ctrl-C. Outside the moments that guard the projector it ends the program at once, as a
// signal does. While guarded (the cool-down wait, and from the request for upload mode to the
// end of the transfer) it only raises a flag, which the wait and the upload's yields check.

namespace halvern::cli::interrupt {

// Installs the SIGINT handler (unguarded).
void install();
// Guarded: Ctrl-C raises the flag. Unguarded: Ctrl-C ends the program.
void set_guarded(bool guarded);
bool guarded();
// True once if Ctrl-C was pressed since the last call.
bool take();
// True if Ctrl-C was pressed and not yet taken; the flag stays.
bool pending();
// Raises the flag as Ctrl-C does (tests).
void raise_flag();
// Waits up to ms milliseconds; true when Ctrl-C came (the flag is then taken).
bool wait(int ms);
// A descriptor that becomes readable when Ctrl-C comes, whichever thread the signal reached;
// for poll() beside other descriptors. -1 when it could not be made.
int wake_descriptor();
// Empties wake_descriptor() of wake-ups whose flag has been taken already.
void clear_wakes();

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
