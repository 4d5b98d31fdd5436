#include "app/extract/RunLifetime.h"

#include <utility>

bool RunLifetime::start(std::function<void()> body) {
    joinEnded();
    if (thread_.joinable()) return false;
    cancel_.store(false);
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_ = RunState::running;
        hasAnswer_ = false;
        answer_.reset();
    }
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // Nothing may leave the thread; the body reports its own failures.
            }
            setState(RunState::ended);
        });
    } catch (...) {
        setState(RunState::idle);  // no thread could be made
        return false;
    }
    return true;
}

void RunLifetime::cancel() {
    cancel_.store(true);
    std::lock_guard<std::mutex> guard(lock_);
    if (state_ == RunState::running || state_ == RunState::askingPassword) state_ = RunState::cancelling;
    answered_.notify_all();
}

void RunLifetime::stop() {
    if (!thread_.joinable()) return;
    cancel();
    thread_.join();
    setState(RunState::idle);
}

void RunLifetime::joinEnded() {
    if (!thread_.joinable() || state() != RunState::ended) return;
    thread_.join();
    setState(RunState::idle);
}

void RunLifetime::answerPassword(std::optional<std::string> answer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (state_ != RunState::askingPassword) return;
    answer_ = std::move(answer);
    hasAnswer_ = true;
    answered_.notify_all();
}

RunState RunLifetime::state() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

bool RunLifetime::alive() const { return thread_.joinable(); }

std::optional<std::string> RunLifetime::waitForPassword(const std::function<bool()>& ask) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (cancelled() || state_ != RunState::running) return std::nullopt;
        state_ = RunState::askingPassword;
        hasAnswer_ = false;
        answer_.reset();
    }
    const bool asked = ask();
    std::unique_lock<std::mutex> guard(lock_);
    if (asked) answered_.wait(guard, [this] { return hasAnswer_ || cancelled(); });
    if (state_ == RunState::askingPassword) state_ = RunState::running;
    if (cancelled() || !hasAnswer_) return std::nullopt;
    hasAnswer_ = false;
    return std::exchange(answer_, std::nullopt);
}

void RunLifetime::setState(RunState s) {
    std::lock_guard<std::mutex> guard(lock_);
    state_ = s;
}
