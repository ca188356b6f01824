// Basic authentication against users with bcrypt hashes. bcrypt costs tens
// of milliseconds a check, so a check is never made on the server's thread:
// it goes to a thread of its own, and its outcome is kept, keyed by a SHA-256
// of the user, the password and the stored hash (never the password itself),
// so that a scrape with the same credentials pays nothing again. The kept
// outcomes and the checks waiting are bounded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

class BasicAuth {
public:
    static constexpr size_t kKeptOutcomes = 256;
    static constexpr size_t kWaitingChecks = 16;

    enum class Verdict { Granted, Refused, Pending, Busy };
    // A check under way; its verdict turns from Pending once it is made.
    struct Pending {
        std::atomic<Verdict> verdict{Verdict::Pending};
    };

    // `users`: name → bcrypt hash ($2a$, $2b$ or $2y$). None: no check at all.
    explicit BasicAuth(std::map<std::string, std::string> users);
    ~BasicAuth();
    BasicAuth(const BasicAuth&) = delete;
    BasicAuth& operator=(const BasicAuth&) = delete;

    bool Enabled() const { return enabled_.load(std::memory_order_acquire); }
    // The users from the next check on (the web configuration read again).
    // The outcomes kept stay true: each is keyed by the hash it was checked
    // against.
    void SetUsers(std::map<std::string, std::string> users);
    // `authorization`: the request's Authorization field, or null. Granted
    // or Refused at once when the request's form or a kept outcome says so;
    // Pending with *pending set, `done` called from the checker's thread once
    // its verdict is in; Busy when too many checks wait.
    Verdict Check(const std::string* authorization, std::function<void()> done, std::shared_ptr<Pending>* pending);

private:
    struct Job {
        std::string key;
        std::string user;
        std::string password;
        std::string hash;
        bool known = false;
        std::shared_ptr<Pending> pending;
        std::function<void()> done;
    };
    void Run();
    void Keep(const std::string& key, bool granted);

    void StartChecker();

    std::atomic<bool> enabled_{false};
    std::mutex mutex_;    // guards what follows
    std::map<std::string, std::string> users_;
    std::string decoy_;   // checked for a user not known, so that the time taken tells nothing
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::unordered_map<std::string, bool> kept_;
    std::deque<std::string> keptOrder_;   // the oldest outcome goes first
    bool stop_ = false;
    std::thread thread_;
};
