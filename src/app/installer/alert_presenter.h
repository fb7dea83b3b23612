#pragma once

#include <string>

namespace qd {

// A modal message with one "OK" button. The tray application shows it with a message box;
// tests and the command-line driver record or print it.
struct Alert {
  enum class Style { informational, warning };
  Style style = Style::informational;
  std::string title;
  std::string informativeText;

  bool operator==(const Alert&) const = default;
};

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Returns once the user has dismissed the alert.
  virtual void present(const Alert& alert) = 0;
};

}  // namespace qd
