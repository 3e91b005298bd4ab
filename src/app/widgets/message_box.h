// The program's message boxes: a fixed text, the program title as caption, and a way for tests
// to answer them without a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// The caption of the window and of every message box.
inline constexpr const char* kAppTitle = "Tarnwick";

struct CMessageRecord {
    QString m_strText;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons m_buttons = QMessageBox::Ok;
};

// Shows `text` modally with the program title as caption and returns the button pressed
// (QMessageBox::Ok or Yes/No). While a hook is installed, the hook answers instead.
QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::Icon icon = QMessageBox::NoIcon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);

using MessageHook = std::function<QMessageBox::StandardButton(const CMessageRecord&)>;
// Installs `hook` (an empty function removes it); returns the previous one.
MessageHook SetMessageHook(MessageHook hook);

// The system's alert sound; tests may count it instead.
void Beep();
using BeepHook = std::function<void()>;
BeepHook SetBeepHook(BeepHook hook);
