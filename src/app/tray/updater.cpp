#include "app/tray/updater.h"

#include <iostream>

#include "app/settings/settings_seams.h"

namespace qd {

Updater& Updater::shared() {
  static Updater updater(platform::Environment::current());
  return updater;
}

bool Updater::automaticallyDownloadsUpdates() const { return autoDownloadSettingOf(environment_).read(); }

void Updater::setAutomaticallyDownloadsUpdates(bool enabled) { autoDownloadSettingOf(environment_).write(enabled); }

void Updater::checkForUpdates() {
  const Alert alert{Alert::Style::informational, checkTitle, checkText};
  if (alerts_ == nullptr) {
    std::cerr << alert.title << ": " << alert.informativeText << "\n";
    return;
  }
  alerts_->present(alert);
}

}  // namespace qd
