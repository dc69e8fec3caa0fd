// Runs a clean-up on every way out of a scope, exceptions included.
#pragma once

#include <utility>

namespace bl {

template <class F>
class ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

  private:
    F f_;
};

}  // namespace bl
