#pragma once

// Runs one short-lived program to its end under a time-out and returns what it printed.
// Calls are grouped in lanes: one program at a time per lane (callers that drive the same
// application share its lane), different lanes side by side. run() blocks its calling
// thread for the whole run, the wait for the lane included: from the io thread, call it
// through runBlocking.

#include <cstdint>
#include <string>
#include <vector>

#include "daemon/utilities/error.h"

namespace qd {

// A failed run, with the caller's error domain, a code and a message. Its description
// reads like a platform domain error, `Error Domain=<domain> Code=<code> "<message>"`, so
// code that looks for "timed out" in an error's text finds it; message() is the bare text.
//
// Codes: 1 the program could not be launched; 2 it was still running at the time-out;
// otherwise the program's non-zero exit status (statuses 1 and 2 share the codes above,
// the messages tell them apart).
class ProcessRunnerError : public Error {
 public:
  ProcessRunnerError(std::string domain, std::int64_t code, std::string message);
  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  std::string domain_;
  std::int64_t code_;
  std::string message_;
};

namespace ProcessRunner {

// Runs `executable` (an absolute path) with `arguments` (no shell) under the lane's lock.
// Standard input is /dev/null and the environment is the program's. Returns standard
// output as UTF-8 with leading and trailing white space removed, "" when it is not valid
// UTF-8. Errors (ProcessRunnerError, domain `errorDomain`):
//   code 1: `failureDescription` + ": " + the launch error's text
//   code 2: `failureDescription` + ": timed out after " + whole seconds + "s"; the child
//           and its group get SIGTERM, then SIGKILL 200 ms later, and are reaped
//   status: the trimmed standard error, or `failureDescription` when that is empty
std::string run(const std::string& executable, const std::vector<std::string>& arguments, const std::string& lane,
                double timeoutSeconds, const std::string& errorDomain, const std::string& failureDescription);

}  // namespace ProcessRunner
}  // namespace qd
