// Drops the user's input to the whole program while the window logic works:
// the hourglass shows, every click, key, wheel and touch is dropped rather
// than kept for later, and the window goes on painting. A close request
// passes; Escape may be handed on.
#pragma once

#include <QObject>
#include <functional>

namespace kestrafin::qt {

class InputGate : public QObject {
  public:
    // Decides whether an event reaches its receiver while the work may be stopped.
    using Passes = std::function<bool(QObject* watched, QEvent* event)>;

    // `on_escape` is called for Escape while the gate is closed with
    // escape_passes set; then too the events that `passes` lets through
    // reach their receivers (a click on "Stop", scrolling the list).
    explicit InputGate(std::function<void()> on_escape, Passes passes = {})
        : on_escape_(std::move(on_escape)), passes_(std::move(passes)) {}
    ~InputGate() override;

    // Drops input from now on (and shows the hourglass), or, when closed
    // already, changes only whether Escape passes.
    void close(bool escape_passes);
    // Drops the input that arrived until now, then takes input again.
    void open();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void()> on_escape_;
    Passes passes_;
    bool closed_ = false;
    bool escape_passes_ = false;
};

}  // namespace kestrafin::qt
