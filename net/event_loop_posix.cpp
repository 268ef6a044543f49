#include "net/event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include "platform/errors.h"

struct TLoopTimer::Impl {
  QTimer timer;
};

TLoopTimer::TLoopTimer(std::function<void()> tick) : d_(std::make_unique<Impl>()) {
  QObject::connect(&d_->timer, &QTimer::timeout, std::move(tick));
}

TLoopTimer::~TLoopTimer() = default;

void TLoopTimer::Start(int interval_ms) { d_->timer.start(interval_ms); }

void TLoopTimer::Stop() { d_->timer.stop(); }

void PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void WaitForEvents() {
  if (!QAbstractEventDispatcher::instance())
    throw ESocketError("No event loop runs on this thread");
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
