#pragma once

#include <QLabel>
#include <QPainter>
#include <QPixmap>

// A picture painted in code only when it first comes into view: one the window keeps covered
// (the main window's logos while it is locked) costs nothing at start-up.
class PictureLabel : public QLabel {
public:
    using Painter = QPixmap (*)();

    PictureLabel(QWidget* parent, Painter painter)
        : QLabel(parent)
        , m_painter(painter)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_picture.isNull())
            m_picture = m_painter();
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawPixmap(rect(), m_picture);
    }

private:
    Painter m_painter;
    QPixmap m_picture;
};
