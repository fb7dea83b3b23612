#include "app/widget_alerts.h"

#include <QMessageBox>
#include <QPushButton>

namespace qd {

void MessageBoxAlerts::present(const Alert& alert) {
  QMessageBox box(alert.style == Alert::Style::warning ? QMessageBox::Warning : QMessageBox::Information,
                  QString::fromStdString(alert.title), QString::fromStdString(alert.title), QMessageBox::Ok);
  box.setInformativeText(QString::fromStdString(alert.informativeText));
  box.exec();
}

bool askToInstallService() {
  QMessageBox box(QMessageBox::Information, "Quarvel Dorarov", "Welcome to Quarvel Dorarov");
  box.setInformativeText(
      "This app requires a system service to be installed. Would you like to install it now?\n\n"
      "This will create a per-user service that the app can start and stop on demand.");
  QPushButton* install = box.addButton("Install", QMessageBox::AcceptRole);
  box.addButton("Cancel", QMessageBox::RejectRole);
  box.setDefaultButton(install);
  box.exec();
  return box.clickedButton() == install;
}

}  // namespace qd
