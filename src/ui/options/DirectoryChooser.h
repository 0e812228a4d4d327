#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// Asks for a directory, starting in start (when not empty); nothing when the user cancels.
// Tests put a scripted choice here in place of the dialog.
using DirectoryChooser =
    std::function<std::optional<QString>(QWidget* parent, const QString& start)>;

// The system's directory picker.
DirectoryChooser systemDirectoryChooser();
