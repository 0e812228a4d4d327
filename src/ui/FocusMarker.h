#pragma once

#include <QWidget>

#include <initializer_list>

// The small orange bar left of whichever of its check boxes has the keyboard focus.
class FocusMarker : public QWidget {
    Q_OBJECT
public:
    static inline const QColor kColour{255, 192, 128};

    FocusMarker(QWidget* parent, const QString& objectName);

    void follow(std::initializer_list<QWidget*> boxes);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
