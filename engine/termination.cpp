#include "engine/termination.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/file_io.h"

namespace qx {
namespace {

std::atomic<bool> ending{false};

}  // namespace

void EndCleanlyOnTerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&signals, signal);
    }
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    std::thread([signals] {
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0) return;
        // Set before any replacement is refused, so that no caller can see a refusal and still exit normally.
        ending = true;
        files::AbandonReplacementsInProgress();
        // The default action, so that whoever started the process sees how it ended.
        ::signal(signal, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }).detach();
}

int ExitCodeUnlessEnding(int code) {
    if (!ending) return code;
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));  // the signal's thread ends the process
}

}  // namespace qx
