#pragma once
// How a subcommand ends when it cannot do its work: it throws Failure with the
// one line the user reads (main prints "tavolen: <text>" and exits with 1), or
// Interrupted when Ctrl-C or a termination signal cut it short.

#include <exception>
#include <stdexcept>
#include <string>

namespace tavolen::cli {

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bad argument found after parsing (exit status 2, like a parse error).
class UsageError : public Failure {
 public:
  using Failure::Failure;
};

class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "interrupted"; }
};

}  // namespace tavolen::cli
