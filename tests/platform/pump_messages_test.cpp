#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QTimer>

#include "common/media_clips.h"
#include "platform/pump_messages.h"

TEST(PumpMessages, DispatchesWhatIsWaitingAndReturns) {
    EnsureApplication();
    PumpMessages();  // an empty queue: returns at once
    int served = 0;
    QObject target;
    for (int i = 0; i < 3; ++i)
        QMetaObject::invokeMethod(
            &target, [&] { ++served; }, Qt::QueuedConnection);
    PumpMessages();
    EXPECT_EQ(served, 3);
}

// A quit taken from the queue while a job pumps does not end the job: the pump returns, the
// job goes on, and the program's own loop ends afterwards with -1.
TEST(PumpMessages, QuitWhilePumpingIsPassedOnWithMinusOne) {
    EnsureApplication();
    QCoreApplication* app = QCoreApplication::instance();
    bool bPumpReturned = false;
    bool bJobWentOn = false;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        QCoreApplication::postEvent(app, new QEvent(QEvent::Quit));
        PumpMessages();
        bPumpReturned = true;
        PumpMessages();  // the next file's pump: the quit is not seen twice
        bJobWentOn = true;
    });
    QTimer::singleShot(5000, &context, [] { QCoreApplication::exit(5); });  // safety net
    const int code = QCoreApplication::exec();
    EXPECT_TRUE(bPumpReturned);
    EXPECT_TRUE(bJobWentOn);
    EXPECT_EQ(code, -1);
}
