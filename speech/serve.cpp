// serve.cpp: Serve: the accept loop, a thread per connection (Session: the
// state of one conversation), and the pool of decoders they share. A
// session owns only its buffers, each capped, so that a client can harm no
// one but itself: a malformed event gets an `error` event and the end of its
// connection.
#include "serve.h"

#include "audio.h"
#include "convert.h"
#include "ksbnfc.h"
#include "report.h"
#include "wyoming.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <system_error>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace ksspeech {

namespace {

// Decoders lent out one at a time; Borrow waits for a free one.
class Pool {
public:
    explicit Pool(std::vector<std::unique_ptr<Pipeline>>& all)
    {
        for (auto& p : all) free_.push_back(p.get());
    }

    class Loan {
    public:
        explicit Loan(Pool& pool) : pool_(pool)
        {
            std::unique_lock<std::mutex> lock(pool_.m_);
            pool_.cv_.wait(lock, [&] { return !pool_.free_.empty(); });
            p_ = pool_.free_.back();
            pool_.free_.pop_back();
        }
        ~Loan()
        {
            {
                std::lock_guard<std::mutex> lock(pool_.m_);
                pool_.free_.push_back(p_);
            }
            pool_.cv_.notify_one();
        }
        Pipeline& operator*() { return *p_; }

    private:
        Pool& pool_;
        Pipeline* p_;
    };

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Pipeline*> free_;
};

std::string Attribution()
{
    return "{\"name\": \"ksbnfc\", \"url\": \"\"}";
}

// One conversation. Closing the socket is the accept loop's business.
class Session {
public:
    Session(int fd, Pool& pool, const ServeOptions& o, std::FILE* err) : fd_(fd), pool_(pool), o_(o), err_(err) {}

    void Run()
    {
        EventLimits limits;
        limits.payload = 1 << 20;
        EventReader reader(
            [this](char* buf, size_t n) {
                ssize_t got;
                do got = ::recv(fd_, buf, n, 0);
                while (got < 0 && errno == EINTR);
                return (long)got;
            },
            limits);
        Event e;
        std::string error;
        for (;;) {
            EventReader::Status s = reader.Next(e, error);
            if (s == EventReader::kClosed) return;
            if (s == EventReader::kError) {
                std::fprintf(err_, "ksspeech: client dropped: %s\n", error.c_str());
                Error(error, "bad-event");
                return;
            }
            if (!Handle(e)) return;
        }
    }

private:
    bool Send(const std::string& type, const std::string& data)
    {
        std::string bytes = EventBytes(type, data);
        for (size_t at = 0; at < bytes.size();) {
            ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            at += (size_t)n;
        }
        return true;
    }

    bool Error(const std::string& text, const std::string& code)
    {
        return Send("error", "{\"text\": " + Json(text) + ", \"code\": " + Json(code) + "}");
    }

    std::string Info() const
    {
        std::string model = "{\"name\": " + Json(o_.model) + ", \"languages\": [" + Json(o_.language) +
                            "], \"attribution\": " + Attribution() +
                            ", \"installed\": true, \"description\": " + Json("grammar " + o_.model) +
                            ", \"version\": " + Json(KSBNFC_VERSION) + "}";
        auto program = [&](const char* what) {
            return "[{\"name\": \"ksspeech\", \"description\": " + Json(what) + ", \"attribution\": " +
                   Attribution() + ", \"installed\": true, \"version\": " + Json(KSBNFC_VERSION) +
                   ", \"models\": [" + model + "]}]";
        };
        return "{\"asr\": " + program("speech to text with a grammar") + ", \"intent\": " +
               program("intents from the translations of a grammar") + "}";
    }

    // The format of an audio event, the current one filling what it lacks.
    PcmFormat Format(const JsonValue& d) const
    {
        PcmFormat f;
        f.rate = (int)std::max(-1LL, std::min(1LL << 30, d.Int("rate", fmt_.rate)));
        f.width = (int)std::max(-1LL, std::min(1LL << 30, d.Int("width", fmt_.width)));
        f.channels = (int)std::max(-1LL, std::min(1LL << 30, d.Int("channels", fmt_.channels)));
        return f;
    }

    // Ends the utterance under way without a transcript.
    bool Refuse(const std::string& why)
    {
        refused_ = true;
        audio_ = false;
        std::vector<int16_t>().swap(samples_);
        return Error(why, "audio");
    }

    bool StartAudio(const PcmFormat& f)
    {
        fmt_ = f;
        audio_ = true;
        refused_ = false;
        samples_.clear();
        std::string why = Unsupported(f);
        return why.empty() || Refuse("audio of " + why);
    }

    bool Chunk(const Event& e)
    {
        PcmFormat f = Format(e.data);
        if (!audio_ && !refused_ && !StartAudio(f)) return false;
        if (refused_) return true;
        if (f.rate != fmt_.rate) return Refuse("audio-chunk at " + std::to_string(f.rate) + " Hz after audio-start at " + std::to_string(fmt_.rate) + " Hz");
        std::string why = Unsupported(f);
        if (!why.empty()) return Refuse("audio of " + why);
        if (!AppendMono16(e.payload, f, samples_)) return Refuse("audio-chunk payload is not a whole number of frames");
        if (samples_.size() > (size_t)o_.max_seconds * (size_t)fmt_.rate)
            return Refuse("audio longer than " + std::to_string(o_.max_seconds) + " s");
        return true;
    }

    bool StopAudio()
    {
        bool was = audio_;
        audio_ = refused_ = false;
        if (!was) return true;
        std::vector<int16_t> samples;
        samples.swap(samples_);
        Result r;
        try {
            Pool::Loan p(pool_);
            samples = Resample(samples, fmt_.rate, (*p).SampleRate());
            // Each utterance alone: nothing another client said may change it.
            (*p).Forget();
            if (!samples.empty()) r = (*p).Recognise(samples);
        } catch (const SpeechError& ex) {
            return Error(ex.what(), "recogniser");
        }
        return Send("transcript", "{\"text\": " + Json(r.recognised ? r.words : "") + ", " + ResultMembers(r) + "}");
    }

    bool Recognize(const Event& e)
    {
        std::string text = e.data.Text("text");
        Result r;
        try {
            Pool::Loan p(pool_);
            r = (*p).Understand(text);
        } catch (const SpeechError& ex) {
            return Error(ex.what(), "grammar");
        }
        Intent i = IntentOf(r);
        if (!i.recognised) return Send("not-recognized", "{\"text\": " + Json(text) + "}");
        std::string entities;
        for (const auto& en : i.entities)
            entities += (entities.empty() ? "" : ", ") + ("{\"name\": " + Json(en.first) + ", \"value\": " + Json(en.second) + "}");
        return Send("intent", "{\"name\": " + Json(i.name) + ", \"entities\": [" + entities + "], \"text\": " +
                                  Json(text) + ", " + ResultMembers(r) + "}");
    }

    // Answers one event; false when the connection is to end.
    bool Handle(const Event& e)
    {
        if (e.type == "describe") return Send("info", Info());
        if (e.type == "ping") return Send("pong", "{\"text\": " + Json(e.data.Text("text")) + "}");
        if (e.type == "audio-start") return StartAudio(Format(e.data));
        if (e.type == "audio-chunk") return Chunk(e);
        if (e.type == "audio-stop") return StopAudio();
        if (e.type == "recognize") return Recognize(e);
        return true; // transcribe names the model and language, which are fixed; others are not ours
    }

    int fd_;
    Pool& pool_;
    const ServeOptions& o_;
    std::FILE* err_;
    PcmFormat fmt_;
    bool audio_ = false, refused_ = false;
    std::vector<int16_t> samples_; // mono, at fmt_.rate
};

struct Connection {
    int fd;
    std::atomic<bool> done{false};
    std::thread thread;
};

int Listener(const ServeOptions& o, std::FILE* err, std::string& where)
{
    addrinfo hints{}, *ai = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    std::string port = std::to_string(o.port);
    int rc = getaddrinfo(o.host.empty() ? nullptr : o.host.c_str(), port.c_str(), &hints, &ai);
    if (rc != 0) {
        std::fprintf(err, "ksspeech: can't serve on %s:%d (%s)\n", o.host.c_str(), o.port, gai_strerror(rc));
        return -1;
    }
    int fd = -1, e = 0;
    for (addrinfo* a = ai; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 64) == 0) break;
        e = errno;
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(ai);
    if (fd < 0) {
        std::fprintf(err, "ksspeech: can't serve on %s:%d (%s)\n", o.host.c_str(), o.port, std::strerror(e));
        return -1;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    int bound = o.port;
    if (getsockname(fd, (sockaddr*)&ss, &len) == 0)
        bound = ntohs(ss.ss_family == AF_INET6 ? ((sockaddr_in6*)&ss)->sin6_port : ((sockaddr_in*)&ss)->sin_port);
    where = "tcp://" + o.host + ":" + std::to_string(bound);
    return fd;
}

} // namespace

std::string ParseAddress(const std::string& uri, ServeOptions& o)
{
    const std::string scheme = "tcp://";
    if (uri.compare(0, scheme.size(), scheme) != 0) return "expected tcp://HOST:PORT, not '" + uri + "'";
    std::string rest = uri.substr(scheme.size());
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos) return "no port in '" + uri + "' (tcp://HOST:PORT)";
    std::string host = rest.substr(0, colon), port = rest.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    char* end = nullptr;
    long p = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end || p < 0 || p > 65535) return "bad port '" + port + "' in '" + uri + "'";
    o.host = host;
    o.port = (int)p;
    return "";
}

int Serve(std::vector<std::unique_ptr<Pipeline>>& decoders, const ServeOptions& o, std::FILE* err,
          volatile std::sig_atomic_t* stop)
{
    std::string where;
    int lfd = Listener(o, err, where);
    if (lfd < 0) return 2;
    std::fprintf(err, "ksspeech: serving %s on %s\n", o.model.c_str(), where.c_str());
    std::fflush(err);
    Pool pool(decoders);
    std::list<Connection> conns;
    auto reap = [&] {
        for (auto it = conns.begin(); it != conns.end();) {
            if (!it->done) {
                ++it;
                continue;
            }
            it->thread.join();
            ::close(it->fd);
            it = conns.erase(it);
        }
    };
    while (!*stop) {
        pollfd p{lfd, POLLIN, 0};
        int ready = ::poll(&p, 1, 200);
        reap();
        if (ready <= 0) continue;
        int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        timeval idle{o.idle_seconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);
        if ((int)conns.size() >= o.max_clients) {
            std::string busy = EventBytes("error", "{\"text\": \"busy: " + std::to_string(o.max_clients) +
                                                       " clients already\", \"code\": \"busy\"}");
            (void)!::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        conns.emplace_back();
        Connection& c = conns.back();
        c.fd = fd;
        try {
            c.thread = std::thread([&c, &pool, &o, err] {
                Session(c.fd, pool, o, err).Run();
                c.done = true;
            });
        } catch (const std::system_error& e) {
            std::fprintf(err, "ksspeech: client refused: %s\n", e.what());
            ::close(fd);
            conns.pop_back();
        }
    }
    ::close(lfd);
    for (Connection& c : conns) ::shutdown(c.fd, SHUT_RDWR);
    for (Connection& c : conns) {
        c.thread.join();
        ::close(c.fd);
    }
    return 0;
}

} // namespace ksspeech
