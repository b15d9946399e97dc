#include "window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>

namespace cwsim {

SimWindow::SimWindow(Engine& engine, const Options& options, int port)
    : engine_(engine), options_(options), port_(port), status_(new QLabel(this)),
      preview_(new QLabel(this)), calls_(new QListWidget(this)), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("SimWindow"));
    status_->setObjectName(QStringLiteral("status"));
    preview_->setObjectName(QStringLiteral("badgePreview"));
    calls_->setObjectName(QStringLiteral("recentCalls"));
    preview_->setFixedSize(280, 440);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setStyleSheet(QStringLiteral("background: #d8d8d8"));
    auto* right = new QVBoxLayout;
    right->addWidget(status_);
    right->addWidget(new QLabel(tr("Last calls:"), this));
    right->addWidget(calls_, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(preview_);
    layout->addLayout(right, 1);
    resize(720, 480);
    // Polling keeps the engine free of Qt signals; a change bumps its
    // generation counter.
    connect(timer_, &QTimer::timeout, this, &SimWindow::refresh);
    timer_->start(250);
}

void SimWindow::refresh() {
    auto gen = engine_.generation();
    auto requests = engine_.windowRequests();
    if (requests.restore != handled_.restore || requests.focus != handled_.focus ||
        requests.preview != handled_.preview) {
        handled_ = requests;
        showNormal();
        raise();
        activateWindow();
    }
    if (gen == seen_)
        return;
    QImage badge;
    if (!engine_.badgeForWindow(badge))
        return; // busy: next tick
    seen_ = gen;
    const char* product = options_.role == Role::Cardwright ? "Cardwright" : "RosterLink";
    auto design = QString::fromStdString(engine_.designName());
    auto port = QString::number(engine_.listenPort() ? engine_.listenPort() : port_);
    setWindowTitle(QStringLiteral("%1 (simulator) - %2 - port %3")
                       .arg(QString::fromLatin1(product), design, port));
    status_->setText(QStringLiteral("%1 on %2:%3\nDesign: %4")
                         .arg(QString::fromLatin1(product), QString::fromStdString(options_.bind),
                              port, design));
    if (badge.isNull()) {
        preview_->setPixmap(QPixmap());
        preview_->setText(tr("No current record"));
    } else {
        preview_->setPixmap(QPixmap::fromImage(
            badge.scaled(preview_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    calls_->clear();
    auto calls = engine_.recentCalls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        calls_->addItem(QString::fromStdString(*it));
}

} // namespace cwsim
