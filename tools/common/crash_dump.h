#pragma once
// The crash dump of the host programs (tavolen-host, tavolen-view): when the
// process dies of a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT,
// SIGSYS), a core file named ocx_CrashDumpYYYY_MM_DD_hh_mm_ss.dmp (local time)
// is written into the executable's folder, or into $XDG_STATE_HOME/tavolen
// (~/.local/state/tavolen) when that folder is not writable. gdb opens it with
// the executable, the crashing thread selected. Then the process ends as the
// signal would have ended it.
//
// The core is written by gdb (found on PATH when the handler is installed),
// attached to the dying process by a child the handler forks. A crash on a
// machine without gdb leaves no dump; nothing else changes.

#include <ctime>
#include <string>

namespace tavolen::tools {

// Installs the handler for the whole process, replacing earlier handlers of
// those signals. Call once, early in main, before threads start. Does nothing
// in a sanitizer build: the sanitizer's runtime owns fatal signals there and
// reports them itself, and its shadow memory makes a core of terabytes.
void installCrashDump();

// False in sanitizer builds, where installCrashDump does nothing.
bool crashDumpAvailable();

// The dump's file name for a local time (exposed for tests).
std::string crashDumpName(const std::tm& local);

}  // namespace tavolen::tools
