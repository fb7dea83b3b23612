#pragma once

// Software updates. The application does not update itself on Linux: updates come through
// the package manager or a newer build. The updater still keeps its automatic-download
// setting, "SUAutomaticallyUpdate" in the shared preferences suite (the daemon reads and
// writes the same key), so the setting round-trips; it changes nothing else. A check
// explains where updates come from.

#include "app/installer/alert_presenter.h"
#include "platform/environment.h"

namespace qd {

class Updater {
 public:
  static constexpr const char* checkTitle = "Software Updates";
  static constexpr const char* checkText =
      "Quarvel Dorarov does not update itself on Linux. Updates come through your package manager, or install a "
      "newer build.";

  // The application's updater (its environment); alerts go to standard error until the
  // application sets its presenter.
  static Updater& shared();

  explicit Updater(platform::Environment environment, AlertPresenter* alerts = nullptr)
      : environment_(std::move(environment)), alerts_(alerts) {}

  void setAlerts(AlertPresenter* alerts) { alerts_ = alerts; }

  bool automaticallyDownloadsUpdates() const;
  void setAutomaticallyDownloadsUpdates(bool enabled);

  // The user asked for a check ("Check Now").
  void checkForUpdates();

 private:
  platform::Environment environment_;
  AlertPresenter* alerts_;
};

}  // namespace qd
