// The small window shown with --show normal or minimized: role, design and
// port in the title, a preview of the current badge, the last calls.
#pragma once

#include "engine.h"
#include "options.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QTimer;

namespace cwsim {

class SimWindow : public QWidget {
  public:
    SimWindow(Engine& engine, const Options& options, int port);

  private:
    void refresh();

    Engine& engine_;
    const Options& options_;
    int port_;
    QLabel* status_;
    QLabel* preview_;
    QListWidget* calls_;
    QTimer* timer_;
    std::uint64_t seen_ = ~std::uint64_t{0};
    Engine::WindowRequests handled_;
};

} // namespace cwsim
