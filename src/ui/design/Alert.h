#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// An alert's title is its window's title and its message the only text inside. The box is made
// wide enough for the title beside the window's buttons and for each line of the message
// (within a limit past which it wraps), so that neither is cut.
void fitAlertToText(QMessageBox& alert);

// An alert over parent with the title, the plain-text message and one "OK", opened without
// blocking and deleted when closed.
QMessageBox* openAlert(QWidget* parent, const QString& title, const QString& message);
