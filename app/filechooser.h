// Asking the user for one file or folder.
#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// Runs a modal file dialog (no start folder, no filter); the first path chosen, or empty text
// when the dialog was cancelled or nothing was chosen.
QString ChooseOnePath(QWidget* parent, const QString& caption, QFileDialog::FileMode mode,
                      QFileDialog::Options options = QFileDialog::Options());
