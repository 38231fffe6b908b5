// The ways a desktop ends a program from outside (the session ending,
// SIGTERM, SIGHUP, SIGINT) as one Qt signal on the window's thread, so that
// they take the window's own way out and its settings are saved.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace wizard {

class ExitRequests : public QObject {
    Q_OBJECT

public:
    // One at a time: it owns the handlers of those signals while it lives.
    explicit ExitRequests(QObject* parent = nullptr);
    ~ExitRequests() override;

signals:
    void Requested();

private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace wizard
