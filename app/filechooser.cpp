#include "app/filechooser.h"

QString ChooseOnePath(QWidget* parent, const QString& caption, QFileDialog::FileMode mode,
                      QFileDialog::Options options)
{
    QFileDialog dialog(parent, caption);
    dialog.setFileMode(mode);
    // After the mode, which sets ShowDirsOnly its own way.
    dialog.setOptions(dialog.options() | options);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}
