#pragma once
// Where the tool writes. The library writes a few diagnostic lines of its own
// to the process's standard output and error; the tool keeps private copies
// of both descriptors for its results and messages, and points the process's
// at /dev/null (or, verbose, at the real stderr), so that what scripts read
// stays clean.
//
// Main thread only, except message(), which any thread may call.

#include <cstdio>
#include <string>

namespace tavolen::cli {

class Console {
 public:
  // Call once, before any library call.
  static void takeOver(bool verbose);
  static FILE* out();
  static FILE* err();
  // The tool's own descriptors, for child processes.
  static int outFd();
  static int errFd();
  static bool errIsTerminal();
};

// One line on the tool's stderr: "tavolen: <text>".
void message(const std::string& text);

}  // namespace tavolen::cli
