#pragma once

// A modal question with two buttons, the first one the default: the first-run install
// question, "Service Unavailable" and the diagnostics confirmation.

#include <QMessageBox>
#include <QString>

namespace qd {

// True when the person chose `acceptLabel`; closing the box counts as `rejectLabel`.
bool askWithMessageBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                       const QString& informativeText, const QString& acceptLabel, const QString& rejectLabel);

}  // namespace qd
