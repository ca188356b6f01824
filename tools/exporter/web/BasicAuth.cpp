#include "BasicAuth.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <csignal>
#include <cstring>
#include <strings.h>

namespace {

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Standard base64, padded; false when it is not.
bool DecodeBase64(std::string_view text, std::string& out)
{
    if (text.empty() || text.size() % 4 != 0)
        return false;
    size_t pads = 0;
    while (pads < 2 && text[text.size() - 1 - pads] == '=')
        ++pads;
    out.clear();
    uint32_t bits = 0;
    int held = 0;
    for (size_t k = 0; k < text.size() - pads; ++k) {
        const int v = Base64Value(text[k]);
        if (v < 0)
            return false;
        bits = bits << 6 | uint32_t(v);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(char(bits >> held & 0xff));
        }
    }
    return true;
}

std::string Sha256(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

BasicAuth::BasicAuth(std::map<std::string, std::string> users)
{
    SetUsers(std::move(users));
}

void BasicAuth::SetUsers(std::map<std::string, std::string> users)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        users_ = std::move(users);
        decoy_ = users_.empty() ? std::string() : users_.begin()->second;
        enabled_.store(!users_.empty(), std::memory_order_release);
    }
    if (Enabled() && !thread_.joinable())
        StartChecker();
}

void BasicAuth::StartChecker()
{
    // The checker takes no signal: the program's stop signals go to the thread that waits for them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    thread_ = std::thread([this] { Run(); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

BasicAuth::~BasicAuth()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

BasicAuth::Verdict BasicAuth::Check(const std::string* authorization, std::function<void()> done,
                                    std::shared_ptr<Pending>* pending)
{
    if (!Enabled())
        return Verdict::Granted;
    if (!authorization)
        return Verdict::Refused;
    const std::string& field = *authorization;
    const size_t space = field.find(' ');
    if (space != 5 || strncasecmp(field.c_str(), "basic", 5) != 0)
        return Verdict::Refused;
    const size_t start = field.find_first_not_of(' ', space);
    std::string credentials;
    if (start == std::string::npos || !DecodeBase64(std::string_view(field).substr(start), credentials))
        return Verdict::Refused;
    const size_t colon = credentials.find(':');
    if (colon == std::string::npos)
        return Verdict::Refused;

    Job job;
    job.user = credentials.substr(0, colon);
    job.password = credentials.substr(colon + 1);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (users_.empty())
            return Verdict::Granted;
        const auto user = users_.find(job.user);
        job.known = user != users_.end();
        job.hash = job.known ? user->second : decoy_;
    }
    // Whether the user is known is part of the key: after the users change, an
    // outcome for one not known then is never taken for one known now.
    job.key = Sha256(job.user + '\0' + job.password + '\0' + job.hash + '\0' + (job.known ? 'k' : 'u'));

    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto at = kept_.find(job.key); at != kept_.end())
        return at->second ? Verdict::Granted : Verdict::Refused;
    if (jobs_.size() >= kWaitingChecks)
        return Verdict::Busy;
    job.pending = std::make_shared<Pending>();
    job.done = std::move(done);
    *pending = job.pending;
    jobs_.push_back(std::move(job));
    wake_.notify_one();
    return Verdict::Pending;
}

void BasicAuth::Keep(const std::string& key, bool granted)
{
    if (kept_.emplace(key, granted).second) {
        keptOrder_.push_back(key);
        if (keptOrder_.size() > kKeptOutcomes) {
            kept_.erase(keptOrder_.front());
            keptOrder_.pop_front();
        }
    }
}

void BasicAuth::Run()
{
    auto data = std::make_unique<crypt_data>();
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (stop_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        std::memset(data.get(), 0, sizeof *data);
        const char* made = crypt_r(job.password.c_str(), job.hash.c_str(), data.get());
        const bool same = made && std::strlen(made) == job.hash.size()
                          && CRYPTO_memcmp(made, job.hash.data(), job.hash.size()) == 0;
        const bool granted = job.known && same;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Keep(job.key, granted);
        }
        job.pending->verdict.store(granted ? Verdict::Granted : Verdict::Refused);
        job.done();
    }
}
