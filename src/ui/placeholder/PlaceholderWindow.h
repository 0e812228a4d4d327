#pragma once

#include <QWidget>

struct AppState;

// Stands where the list window will be, so that a start can be seen to succeed.
class PlaceholderWindow : public QWidget {
    Q_OBJECT
public:
    explicit PlaceholderWindow(AppState& state, QWidget* parent = nullptr);
};
