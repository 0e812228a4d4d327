// What starting any Qt Widgets program with a little text costs: a window titled "Minimal" with
// a label, a button and a line edit, the size of the program's first window; with --bare, the
// window alone. Any window with text pays for the fonts, so the first is the fair reference for
// the program's start-up. It quits once its first paint is done, so that it ends by itself when
// nothing stops it at its first frame (bench/run.sh does, with FirstFrame.cpp).

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>

namespace {

class MinimalWindow : public QWidget {
public:
    explicit MinimalWindow(bool bare)
    {
        setWindowTitle(QStringLiteral("Minimal"));
        resize(606, 326); // the real program's first window size
        if (bare)
            return;
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(QStringLiteral("Enter the master password"), this));
        layout->addWidget(new QLineEdit(this));
        layout->addWidget(new QPushButton(QStringLiteral("Enter"), this));
    }

protected:
    bool event(QEvent* event) override
    {
        const bool handled = QWidget::event(event);
        // The paint is over once the widget has handled it; quitting from the event loop lets
        // the backing store reach the screen first.
        if (event->type() == QEvent::Paint && !m_quitting) {
            m_quitting = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return handled;
    }

private:
    bool m_quitting = false;
};

} // namespace

int main(int argc, char* argv[])
{
    const bool bare = argc > 1 && std::strcmp(argv[1], "--bare") == 0;
    QApplication app(argc, argv);
    MinimalWindow window(bare);
    window.show();
    return app.exec();
}
