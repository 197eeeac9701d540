// The ledger: when a test names a file in RASSIM_LEDGER, the library notes
// there each load and release of itself and each call, with the arguments
// that matter, one line each. Sizes that match this build's records are
// written by the records' names, so that one expectation holds on every
// platform.
#ifndef RASSIM_LEDGER_H
#define RASSIM_LEDGER_H

#include <string>

#include "ras/rasapi.h"

void note(const std::string& line);

// What the calls were given and gave back, as the ledger writes them.
std::string enumeration(LPRASCONNA records, LPDWORD bytes, LPDWORD count);
std::string counts(LPDWORD bytes, LPDWORD count);
std::string status_call(HRASCONN connection, LPRASCONNSTATUSA status);
std::string handle_text(HRASCONN connection);
std::string dial_call(LPRASDIALEXTENSIONS extensions, LPRASDIALPARAMSA params);

// The dial record is looked at again when the library goes: by then its
// caller should have wiped the password in it.
void remember_dial_record(LPRASDIALPARAMSA params);

// A process that ends, the library still loaded, within 3 s of its last
// hang-up request is noted: the system asks that none do.
void remember_hang_up();

#endif
