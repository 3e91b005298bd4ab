#include "player_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <regex>
#include <thread>

#include "app/capture/player_panel_widget.h"

void WhenDialogOpens(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto waited = std::make_shared<QElapsedTimer>();
    waited->start();
    QObject::connect(timer, &QTimer::timeout, [timer, answer, waited] {
        QWidget* widget = QApplication::activeModalWidget();
        if (!widget && waited->elapsed() < 10000)
            return;
        timer->stop();
        timer->deleteLater();
        if (auto* dialog = qobject_cast<QDialog*>(widget)) {
            answer(dialog);
            // An answer that failed half-way must not leave the test waiting on the dialog.
            if (dialog->isVisible())
                dialog->reject();
        }
    });
    timer->start();
}

std::vector<CFrameFile> ListFrameFiles(const std::filesystem::path& dir) {
    static const std::regex name("([0-9]{8,})\\.bmp");
    std::map<long long, std::uintmax_t> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::smatch match;
        const std::string file = entry.path().filename().string();
        if (std::regex_match(file, match, name))
            files[std::stoll(match[1])] = entry.file_size();
    }
    std::vector<CFrameFile> list;
    for (const auto& [number, size] : files) list.push_back({number, size});
    return list;
}

void PumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
