// Helpers shared by the desktop tests: paths, widget lookup, answering modal
// dialogs and holding a conversion at a page.
#pragma once

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QScopeGuard>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <utility>

#include "engine/converter.h"

namespace bl::desktop::test_helpers {

// Inspections and conversions finish on the pool. Generous, for sanitizer builds
// on a busy machine.
constexpr int kTimeoutMs = 120000;

inline QString qpath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

template <class T>
T* widget(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no widget named %s", name);
    }
    return found;
}

// Calls `answer` with the next modal dialog once it is shown. Dialogs run their
// own event loop, so this watches from a timer instead of waiting inline.
inline void whenModalOpens(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        answer(modal);
    });
    timer->start();
}

// Holds a conversion's worker at one page, just before that page is rendered or
// encoded, until open() is called; so a test can act while a job is certainly at
// that point.
class PageGate {
  public:
    enum class Stage { Render, Encode };

    PageGate(Stage stage, std::uint32_t page) {
        std::shared_future<void> opened = opened_.get_future().share();
        auto reached = std::make_shared<std::promise<void>>();
        reached_ = reached->get_future();
        auto once = std::make_shared<std::once_flag>();
        auto hook = [page, opened, reached, once](std::uint32_t number) {
            if (number == page) {
                std::call_once(*once, [&reached] { reached->set_value(); });
                opened.wait();
            }
        };
        auto& hooks = bl::detail::driver_hooks();
        if (stage == Stage::Render) {
            hooks.before_render = hook;
        } else {
            hooks.before_encode = hook;
        }
    }
    PageGate(const PageGate&) = delete;
    PageGate& operator=(const PageGate&) = delete;
    // Declare the gate before the controller (or window) that runs the job: the
    // hooks go only after the job's task has been waited for.
    ~PageGate() {
        open();
        bl::detail::driver_hooks().before_render = nullptr;
        bl::detail::driver_hooks().before_encode = nullptr;
    }

    // Whether the worker arrived at the gate within the time.
    bool waitUntilReached() {
        return reached_.wait_for(std::chrono::milliseconds(kTimeoutMs)) ==
               std::future_status::ready;
    }
    void open() {
        if (!open_) {
            open_ = true;
            opened_.set_value();
        }
    }
    // Opens the gate when the caller's scope ends; declare it after the controller
    // so that the controller's destructor never waits on a closed gate.
    auto openAtScopeExit() {
        return qScopeGuard([this] { open(); });
    }

  private:
    std::promise<void> opened_;
    std::future<void> reached_;
    bool open_ = false;
};

}  // namespace bl::desktop::test_helpers
