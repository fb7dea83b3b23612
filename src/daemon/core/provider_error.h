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

}  // namespace qd
