#pragma once

#include <QDialog>

#include <array>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
struct Settings;

// frmMsgWind: the program's own modal message box.
class MessageWindow : public QDialog {
    Q_OBJECT
public:
    MessageWindow(qint16 kind, const QString& text, qint16 number, Settings& settings,
                  QWidget* parent = nullptr);

    qint16 answer() const { return m_answer; }

    // Without the original's leading blanks: window managers here centre a title themselves,
    // and the blanks would push it right.
    static inline const QString kCaption = QStringLiteral("Message ");

    // The buttons left to right, Command1 .. Command3, for tests.
    QPushButton* button(int index) const { return m_buttons.at(std::size_t(index)); }
    QCheckBox* stopShowingBox() const { return m_stopShowing; }
    QPlainTextEdit* textBox() const { return m_text; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void clickButton(int index);
    qint16 answerOf(int index) const;
    QPushButton* safeButton() const;

    const qint16 m_kind;
    const qint16 m_number;
    Settings& m_settings;
    qint16 m_answer = 0;
    bool m_activated = false;
    QString m_pendingText;
    QPlainTextEdit* m_text = nullptr;
    QCheckBox* m_stopShowing = nullptr;
    std::array<QPushButton*, 3> m_buttons{};
};
