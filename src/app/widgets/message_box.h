// What a message box shows: a fixed text, an icon, its buttons; the program title is its caption.
// CDesktop (desktop.h) shows them.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

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
