#include "DirectoryChooser.h"

#include <QFileDialog>

DirectoryChooser systemDirectoryChooser()
{
    return [](QWidget* parent, const QString& start) -> std::optional<QString> {
        const QString chosen = QFileDialog::getExistingDirectory(parent, QString(), start);
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen;
    };
}
