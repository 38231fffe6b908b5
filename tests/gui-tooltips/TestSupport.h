#pragma once

#include <QTest>

#include <functional>

// Runs the event loop until cond holds or ms have passed.
inline bool WaitFor(const std::function<bool()>& cond, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}
