#include "app/message_box_question.h"

#include <QPushButton>

namespace qd {

bool askWithMessageBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                       const QString& informativeText, const QString& acceptLabel, const QString& rejectLabel) {
  QMessageBox box(icon, title, text);
  box.setInformativeText(informativeText);
  QPushButton* accept = box.addButton(acceptLabel, QMessageBox::AcceptRole);
  box.addButton(rejectLabel, QMessageBox::RejectRole);
  box.setDefaultButton(accept);
  box.exec();
  return box.clickedButton() == accept;
}

}  // namespace qd
