#include "PlaceholderWindow.h"

#include "startup/AppState.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderWindow::PlaceholderWindow(AppState& state, QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Quillor CSP"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Quillor is ready.\nData directory: %1")
                                 .arg(state.paths.dataDirectory),
                             this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    resize(606, 326);
}
