// The platform seam: what the program asks of the system it runs on,
// beyond the Windows names themselves (winapi.h). platform-win32.cpp and
// platform-posix.cpp each give it, one chosen by the build.
#ifndef QUORVEL_PLATFORM_H
#define QUORVEL_PLATFORM_H

#include <string>

#include "platform/winapi.h"

// Loads the RAS library the way this platform should: from the system's own
// folder on Windows, from beside the executable elsewhere.
HMODULE load_rasapi32();

// Writes text to standard output at once. A console shows it as the
// characters the system's ANSI code page means; a file or a pipe gets the
// bytes unchanged.
void write_output(const std::string& text);

// Runs the exec command through the command interpreter and waits for it.
// An interrupt from the keyboard meanwhile is the command's alone: the run
// goes on once the command has ended.
int run_command(const std::string& command);

// From here to the end of the run, a console closed under it calls
// `last_wish` (the dialed connection's hang-up) before the process ends.
void at_console_close(void (*last_wish)());

// A hang-up was requested just now. The system asks that a process not end
// right after such a request, so that it is carried out: an interrupt or a
// closed console ends the run no sooner than 3 s after the last one.
void hang_up_requested();

// While the dial request runs, an interrupt or a closed console calls
// `cancel`, which hangs up what the request has stored so far. After an
// interrupt the run goes on, to end as a failed dial once the request has
// returned; a closed console ends it. Called with null when the request has
// returned: says whether such an event came meanwhile.
bool cancel_dial_on_interrupt(void (*cancel)());

#endif
