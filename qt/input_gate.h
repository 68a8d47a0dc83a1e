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
    // `on_escape` is called for Escape while the gate is closed with
    // escape_passes set.
    explicit InputGate(std::function<void()> on_escape) : on_escape_(std::move(on_escape)) {}
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
    bool closed_ = false;
    bool escape_passes_ = false;
};

}  // namespace kestrafin::qt
