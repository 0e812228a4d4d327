#include "FocusMarker.h"

#include "Twips.h"

#include <QEvent>

FocusMarker::FocusMarker(QWidget* parent, const QString& objectName)
    : QWidget(parent)
{
    setObjectName(objectName);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kColour);
    setPalette(palette);
    resize(twipsToPixels(45), twipsToPixels(195));
    hide();
}

void FocusMarker::follow(std::initializer_list<QWidget*> boxes)
{
    for (QWidget* box : boxes)
        box->installEventFilter(this);
}

bool FocusMarker::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        const auto* box = static_cast<QWidget*>(watched);
        move(box->x() - twipsToPixels(60), box->y() + twipsToPixels(15));
        show();
    } else if (event->type() == QEvent::FocusOut) {
        hide();
    }
    return QWidget::eventFilter(watched, event);
}
