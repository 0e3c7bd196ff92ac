#include "app/filechooser.h"

QString ChooseOnePath(QWidget* parent, const QString& caption, QFileDialog::FileMode mode)
{
    QFileDialog dialog(parent, caption);
    dialog.setFileMode(mode);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}
