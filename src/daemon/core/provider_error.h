#pragma once

#include <string>

#include "daemon/utilities/error.h"

namespace qd {

// A failure an application provider reports to the user: permission guidance, a script
// that failed. It carries the provider's domain and a code for logs and tests; what a
// client sees is the message alone, which is the description.
class ProviderError : public Error {
 public:
  ProviderError(std::string domain, int code, std::string message)
      : Error(message), domain_(std::move(domain)), code_(code), message_(std::move(message)) {}

  const std::string& domain() const { return domain_; }
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  std::string domain_;
  int code_;
  std::string message_;
};

// A call the note-app provider forwarded to the note app's server failed there (the
// connection, a time-out, the protocol). Its description is the provider's text,
// "Tinderbox operation '<operation>' failed: <detail>"; the socket layer answers with its
// own, from the operation and the detail.
class TinderboxCallError : public ProviderError {
 public:
  TinderboxCallError(std::string domain, int code, std::string operation, std::string detail)
      : ProviderError(std::move(domain), code, "Tinderbox operation '" + operation + "' failed: " + detail),
        operation_(std::move(operation)),
        detail_(std::move(detail)) {}

  const std::string& operation() const { return operation_; }
  const std::string& detail() const { return detail_; }

 private:
  std::string operation_;
  std::string detail_;
};

}  // namespace qd
