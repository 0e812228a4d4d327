// The floor for starting a Qt Widgets program: one empty window, titled "Minimal". It quits
// once its first paint is done, so `time quillor_minimal_window` gives start to painted. With
// --stay it waits like the real program instead, until Escape or a close, for a driver that
// watches it from outside (bench/startup.sh).

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <cstring>

namespace {

class MinimalWindow : public QWidget {
public:
    explicit MinimalWindow(bool quitAfterPaint)
        : m_quitAfterPaint(quitAfterPaint)
    {
        setWindowTitle(QStringLiteral("Minimal"));
        resize(606, 326); // the real program's first window size
    }

protected:
    bool event(QEvent* event) override
    {
        const bool handled = QWidget::event(event);
        // The paint is over once the widget has handled it; quitting from the event loop lets
        // the backing store reach the screen first.
        if (event->type() == QEvent::Paint && m_quitAfterPaint && !m_quitting) {
            m_quitting = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return handled;
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            close();
        else
            QWidget::keyPressEvent(event);
    }

private:
    const bool m_quitAfterPaint;
    bool m_quitting = false;
};

} // namespace

int main(int argc, char* argv[])
{
    const bool stay = argc > 1 && std::strcmp(argv[1], "--stay") == 0;
    QApplication app(argc, argv);
    MinimalWindow window(!stay);
    window.show();
    return app.exec();
}
