#include "app/widgets/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGridLayout>
#include <QSpacerItem>
#include <QWidget>

#include <utility>

namespace {
MessageHook& Hook() {
    static MessageHook s_hook;
    return s_hook;
}
BeepHook& BeepHookRef() {
    static BeepHook s_hook;
    return s_hook;
}
}  // namespace

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons) {
    return ShowMessage(parent, CMessageRecord{text, icon, buttons, {}});
}

QMessageBox::StandardButton ShowMessage(QWidget* parent, const CMessageRecord& message) {
    if (Hook()) {
        return Hook()(message);
    }
    QMessageBox box(message.m_icon, QString::fromLatin1(kAppTitle), message.m_strText,
                    message.m_buttons, parent);
    for (const auto& [which, text] : message.m_buttonTexts) {
        if (QAbstractButton* button = box.button(which)) {
            button->setText(text);
        }
    }
    // A short text makes a box so narrow that the window's title bar cuts the caption; a spacer
    // in the box's own grid keeps it wide enough.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(
            new QSpacerItem(kMessageBoxMinWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

MessageHook SetMessageHook(MessageHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

void Beep() {
    if (BeepHookRef()) {
        BeepHookRef()();
        return;
    }
    QApplication::beep();
}

BeepHook SetBeepHook(BeepHook hook) {
    return std::exchange(BeepHookRef(), std::move(hook));
}
