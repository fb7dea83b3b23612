#include "app/widget_alerts.h"

#include <QMessageBox>

#include "app/message_box_question.h"

namespace qd {

void MessageBoxAlerts::present(const Alert& alert) {
  QMessageBox box(alert.style == Alert::Style::warning ? QMessageBox::Warning : QMessageBox::Information,
                  QString::fromStdString(alert.title), QString::fromStdString(alert.title), QMessageBox::Ok);
  box.setInformativeText(QString::fromStdString(alert.informativeText));
  box.exec();
}

bool askToInstallService() {
  return askWithMessageBox(
      QMessageBox::Information, "Quarvel Dorarov", "Welcome to Quarvel Dorarov",
      "This app requires a system service to be installed. Would you like to install it now?\n\n"
      "This will create a per-user service that the app can start and stop on demand.",
      "Install", "Cancel");
}

}  // namespace qd
