#pragma once

// Alerts and the first-run question as modal message boxes (the program's Widgets part).

#include "app/installer/alert_presenter.h"

namespace qd {

class MessageBoxAlerts final : public AlertPresenter {
 public:
  void present(const Alert& alert) override;
};

// "Welcome to Quarvel Dorarov" with "Install" and "Cancel"; true for "Install".
bool askToInstallService();

}  // namespace qd
