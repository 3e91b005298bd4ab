// The program's message boxes: a fixed text, the program title as caption, and a way for tests
// to answer them without a modal loop.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

#include <functional>

class QWidget;

// The caption of the window and of every message box.
inline constexpr const char* kAppTitle = "Tarnwick";

struct CMessageRecord {
    QString m_strText;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons m_buttons = QMessageBox::Ok;
    // The program's own words for some of the buttons (QMessageBox::Open as "打开文件夹").
    QList<QPair<QMessageBox::StandardButton, QString>> m_buttonTexts;
};

// The narrowest a message box gets: its caption must not be cut by the window's own buttons.
inline constexpr int kMessageBoxMinWidth = 300;

// Shows `text` modally with the program title as caption and returns the button pressed
// (QMessageBox::Ok or Yes/No). While a hook is installed, the hook answers instead.
QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::Icon icon = QMessageBox::NoIcon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// The same for a message whose buttons carry texts of their own.
QMessageBox::StandardButton ShowMessage(QWidget* parent, const CMessageRecord& message);

using MessageHook = std::function<QMessageBox::StandardButton(const CMessageRecord&)>;
// Installs `hook` (an empty function removes it); returns the previous one.
MessageHook SetMessageHook(MessageHook hook);

// The system's alert sound; tests may count it instead.
void Beep();
using BeepHook = std::function<void()>;
BeepHook SetBeepHook(BeepHook hook);
