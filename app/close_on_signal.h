// Ctrl-C in the terminal that started the program, or a plain kill, closes the window as
// its close box does: during a transfer the run is cancelled and "Result"/"code" is -2.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class CCloseOnSignal : public QObject {
  public:
    // Calls close on the event loop's thread after SIGINT or SIGTERM.
    explicit CCloseOnSignal(std::function<void()> close);
    ~CCloseOnSignal() override;

  private:
    std::function<void()> m_close;
    QSocketNotifier* m_pNotifier = nullptr;
};
