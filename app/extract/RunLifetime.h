// The lifetime of one extraction run on a thread of its own, as a small
// state machine the GUI thread drives and the run's thread reports to:
//
//   idle --start--> running <--answered-- askingPassword
//                      |   --password asked-->   |
//                      +---------cancel----------+--> cancelling
//   running / cancelling --body returns--> ended --join--> idle
//
// The owner never forgets a live thread: a second start is refused until
// the thread has ended and been joined, and stop() (also run by the
// destructor) cancels, wakes a run waiting for a password and waits until
// the thread is gone, so whatever the run holds (its archive, the file it
// was writing) is released before stop() returns. A run must look at
// cancelled() often enough to end soon after a cancel (the archive library
// does so at least every 1 MiB of output). No platform headers: the host
// tests drive it with slow stand-in runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

enum class RunState { idle, running, askingPassword, cancelling, ended };

class RunLifetime {
public:
    RunLifetime() = default;
    ~RunLifetime() { stop(); }
    RunLifetime(const RunLifetime&) = delete;
    RunLifetime& operator=(const RunLifetime&) = delete;

    // --- the owner's side (one thread, the GUI thread in the program) ---

    // Starts body on a new thread. Refused (false) while a run is alive:
    // from its start until it has ended and been joined. A run that ended
    // but was not joined yet is joined first. Nothing escapes body: an
    // exception ends the run like a return (the body reports failures itself).
    bool start(std::function<void()> body);
    // Asks the run to stop; a password wait ends with no answer.
    void cancel();
    // Cancels and waits until the thread has ended; idle afterwards.
    void stop();
    // Joins a run that has ended (its last report arrived); idle afterwards.
    // Does nothing while the run is still going.
    void joinEnded();
    // Answers the run's password question; ignored unless one is asked.
    void answerPassword(std::optional<std::string> answer);

    RunState state() const;
    // From start until joined.
    bool alive() const;

    // --- the run's side (its own thread) ---

    bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }
    // Asks for a password: ask() hands the question to the owner's thread
    // (false when it could not), then the run waits for answerPassword or a
    // cancel. Nothing for no answer, a refused question or a cancel.
    std::optional<std::string> waitForPassword(const std::function<bool()>& ask);

private:
    void setState(RunState s);

    mutable std::mutex lock_;
    std::condition_variable answered_;
    RunState state_ = RunState::idle;
    std::optional<std::string> answer_;
    bool hasAnswer_ = false;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};
