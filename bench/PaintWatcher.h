#pragma once

#include <QEvent>
#include <QEventLoop>
#include <QWidget>

// Ends a loop once the watched widget has been painted: the clock of the window benchmarks
// stops at what a person sees.
class PaintWatcher : public QObject {
public:
    PaintWatcher(QWidget* watched, QEventLoop& loop)
        : m_loop(loop)
    {
        watched->installEventFilter(this);
    }
    bool painted() const { return m_painted; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        // The loop returns after the batch that holds this event, so the paint is over by then.
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            m_loop.quit();
        }
        return false;
    }

private:
    QEventLoop& m_loop;
    bool m_painted = false;
};
