#include "app/widgets/message_box.h"

#include <QApplication>
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
    if (Hook()) {
        return Hook()(CMessageRecord{text, icon, buttons});
    }
    QMessageBox box(icon, QString::fromLatin1(kAppTitle), text, buttons, parent);
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
