#include "OrvaneSim.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace orvanesim {

namespace {

long long nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Numbers on the line carry a full stop whatever locale the process that hosts the simulator runs in.
std::string number(double v) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

double parseNumber(const char* text) {
    while (*text == ' ' || *text == '+')
        ++text;
    double v = 0;
    std::from_chars(text, text + std::strlen(text), v);
    return v;
}

struct Pending {
    long long due;
    std::string bytes;
    bool last; // holds the reply's final "*"
};

struct Command {
    long long ready; // when its last byte has crossed the line
    std::string text;
};

} // namespace

struct Controller {
    ControllerConfig cfg;
    int master = -1;
    int slaveHold = -1; // keeps the line up while the console has the port closed
    std::string device, link;
    std::string input;
    std::deque<Command> commands;
    std::deque<Pending> output; // in time order
    long long busyUntil = 0;
    int grating = 1;
    double wavelength = 0;
    int commandsSeen = 0;
    bool dead = false;
    bool blocked = false; // output waits for room in the line
    unsigned rng = 12345;
    std::string received; // every byte the console wrote, for tests that check the exact bytes

    long long byteNs() const { return cfg.baud > 0 ? (long long)(10.0 / cfg.baud * 1e9) : 0; }

    void close() {
        if (master >= 0)
            ::close(master);
        if (slaveHold >= 0)
            ::close(slaveHold);
        master = slaveHold = -1;
        if (!link.empty())
            ::unlink(link.c_str());
        dead = true;
        output.clear();
        commands.clear();
    }

    // The reply text and how long the controller works on a command before answering.
    std::string answer(const std::string& cmd, double& workMs) {
        workMs = 0;
        if (cmd == "IA")
            return "ST=0/GR=" + std::to_string(grating) + "/MD=0/WL=" + number(wavelength) + "/BS=0/";
        if (cmd == "IB") {
            std::string r = "NM=" + cfg.name +
                            "/TX=ORVANE SIMULATED DRIVE/VR=100/NG=" + std::to_string(cfg.gratings.size()) +
                            "/SN=1/";
            for (std::size_t g = 0; g < cfg.gratings.size(); ++g) {
                std::string p = "G" + std::to_string(g + 1);
                r += p + "A=" + std::to_string(g + 1) + "/" + p + "B=0/" + p +
                     "G=" + std::to_string(cfg.gratings[g].groove) + "/" + p +
                     "Z=" + number(cfg.gratings[g].blazeNm) + "nm/" + p + "E=0/" + p + "F=0/" + p + "R=0.0/" +
                     p + "H=0/" + p + "S=0.0/" + p + "I=0/" + p + "J=0/";
            }
            return r;
        }
        if (cmd.rfind("GU", 0) == 0) {
            double target = parseNumber(cmd.c_str() + 2);
            if (cfg.nmPerSecond > 0)
                workMs = std::fabs(target - wavelength) / cfg.nmPerSecond * 1000.0;
            wavelength = target;
            return "GU=OK/WL=" + number(wavelength) + "/";
        }
        if (cmd.rfind("GS", 0) == 0) {
            int g = std::atoi(cmd.c_str() + 2);
            if (g < 1 || g > int(cfg.gratings.size()))
                return "GS=ERR/GR=" + std::to_string(grating) + "/";
            if (g != grating)
                workMs = cfg.gratingChangeMs;
            grating = g;
            return "GS=OK/GR=" + std::to_string(grating) + "/";
        }
        if (cmd == "GA") {
            workMs = cfg.initialiseMs;
            wavelength = cfg.startWavelength;
            return "GA=OK/";
        }
        if (cmd == "GX")
            return "GX=OK/";
        return "ER=UNKNOWN/";
    }

    void schedule(const Command& c, long long now) {
        double workMs = 0;
        std::string reply = answer(c.text, workMs);
        if (cfg.silent)
            return;
        if (!cfg.noTerminator)
            reply += '*';
        std::string garbage;
        for (int i = 0; i < cfg.garbageBytes; ++i) {
            rng = rng * 1103515245u + 12345u;
            char ch = char((rng >> 16) & 0xFF);
            if (ch == '*' || ch == '\r')
                ch = '#';
            garbage += ch;
        }
        reply = garbage + reply;
        long long start = std::max(now, c.ready) + (long long)((workMs + cfg.slowMs) * 1e6);
        long long per = byteNs();
        int pieces = std::clamp(cfg.splitPieces, 1, int(reply.size()));
        std::size_t pieceLen = (reply.size() + pieces - 1) / pieces;
        long long t = start;
        for (std::size_t off = 0, k = 0; off < reply.size(); off += pieceLen, ++k) {
            std::string piece = reply.substr(off, pieceLen);
            if (k > 0)
                t += (long long)(cfg.splitGapMs * 1e6);
            if (per == 0) {
                output.push_back({t, piece, off + piece.size() == reply.size() && !cfg.noTerminator});
            } else {
                for (std::size_t i = 0; i < piece.size(); ++i) {
                    t += per;
                    bool last = off + i + 1 == reply.size() && !cfg.noTerminator;
                    output.push_back({t, std::string(1, piece[i]), last});
                }
            }
        }
        busyUntil = t;
    }
};

struct Simulator::Impl {
    Simulator* owner;
    std::string portDir;
    bool ownDir = false;
    std::vector<std::unique_ptr<Controller>> controllers;
    std::thread thread;
    int wakeFd = -1;
    mutable std::mutex m; // guards controllers' state against the API calls (hangup, counts)
    bool stopping = false;
    std::vector<int> hangups;

    // Gives the controller a fresh pseudo-terminal linked as its COM port; an error text on failure.
    std::string attach(Controller& c) {
        termios raw{};
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&raw, B9600);
        ::cfsetospeed(&raw, B9600);
        char name[128] = {};
        if (::openpty(&c.master, &c.slaveHold, name, &raw, nullptr) != 0)
            return "openpty";
        ::fcntl(c.master, F_SETFD, FD_CLOEXEC);
        ::fcntl(c.slaveHold, F_SETFD, FD_CLOEXEC);
        ::fcntl(c.master, F_SETFL, ::fcntl(c.master, F_GETFL) | O_NONBLOCK);
        c.device = name;
        c.link = owner->portPath(c.cfg.comNumber);
        ::unlink(c.link.c_str());
        if (::symlink(c.device.c_str(), c.link.c_str()) != 0)
            return "cannot link " + c.link;
        c.dead = false;
        return {};
    }

    Controller* find(int com) const {
        for (auto& c : controllers)
            if (c->cfg.comNumber == com)
                return c.get();
        return nullptr;
    }

    void serve(Controller& c, long long now) {
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(c.master, buf, sizeof buf);
            if (n <= 0)
                break;
            c.received.append(buf, std::size_t(n));
            long long per = c.byteNs();
            for (ssize_t i = 0; i < n; ++i) {
                char ch = buf[i];
                if (ch == '\r') {
                    if (c.input.empty())
                        continue;
                    long long ready = now + per * (long long)(c.input.size() + 1);
                    c.commands.push_back({ready, c.input});
                    c.input.clear();
                    ++c.commandsSeen;
                    if (owner->onCommand)
                        owner->onCommand(c.cfg.comNumber, c.commands.back().text);
                    if (c.cfg.hangupAfter >= 0 && c.commandsSeen >= c.cfg.hangupAfter) {
                        c.close();
                        return;
                    }
                } else if (ch != '\n') {
                    c.input += ch;
                }
            }
        }
    }

    // Starts commands whose bytes have arrived once the controller is free; writes due output.
    void advance(Controller& c, long long now) {
        while (!c.commands.empty() && c.commands.front().ready <= now && c.busyUntil <= now) {
            Command cmd = c.commands.front();
            c.commands.pop_front();
            c.schedule(cmd, now);
        }
        std::string chunk;
        bool last = false;
        while (!c.output.empty() && c.output.front().due <= now) {
            chunk += c.output.front().bytes;
            last = last || c.output.front().last;
            c.output.pop_front();
        }
        if (chunk.empty())
            return;
        if (last && owner->onReplyEnd)
            owner->onReplyEnd(c.cfg.comNumber, nowNs());
        std::size_t off = 0;
        while (off < chunk.size()) {
            ssize_t n = ::write(c.master, chunk.data() + off, chunk.size() - off);
            if (n > 0) {
                off += std::size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                // The console is not reading: keep the rest and wait for room rather than drop a reply.
                c.output.push_front({now, chunk.substr(off), last});
                c.blocked = true;
                return;
            }
            break;
        }
        c.blocked = false;
    }

    long long nextDue(const Controller& c) const {
        long long due = -1;
        if (!c.output.empty() && !c.blocked)
            due = c.output.front().due;
        if (!c.commands.empty()) {
            long long t = std::max(c.commands.front().ready, c.busyUntil);
            due = due < 0 ? t : std::min(due, t);
        }
        return due;
    }

    void run() {
        std::vector<pollfd> fds;
        for (;;) {
            long long now = nowNs();
            long long due = -1;
            fds.clear();
            fds.push_back({wakeFd, POLLIN, 0});
            {
                std::lock_guard lock(m);
                if (stopping)
                    return;
                for (int com : hangups)
                    if (Controller* c = find(com))
                        c->close();
                hangups.clear();
                for (auto& c : controllers) {
                    if (c->dead)
                        continue;
                    advance(*c, now);
                    fds.push_back({c->master, short(c->blocked ? POLLIN | POLLOUT : POLLIN), 0});
                    long long t = nextDue(*c);
                    if (t >= 0)
                        due = due < 0 ? t : std::min(due, t);
                }
            }
            timespec ts{};
            timespec* timeout = nullptr;
            if (due >= 0) {
                long long wait = std::max(0LL, due - nowNs());
                ts.tv_sec = wait / 1000000000LL;
                ts.tv_nsec = wait % 1000000000LL;
                timeout = &ts;
            }
            int r = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
            if (r < 0 && errno != EINTR)
                return;
            if (fds[0].revents & POLLIN) {
                std::uint64_t v;
                [[maybe_unused]] ssize_t n = ::read(wakeFd, &v, sizeof v);
            }
            now = nowNs();
            std::lock_guard lock(m);
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents & POLLOUT)
                    for (auto& c : controllers)
                        if (c->master == fds[i].fd)
                            c->blocked = false;
                if (!(fds[i].revents & POLLIN))
                    continue;
                for (auto& c : controllers)
                    if (!c->dead && c->master == fds[i].fd)
                        serve(*c, now);
            }
        }
    }
};

Simulator::Simulator(std::string portDir) : d(std::make_unique<Impl>()) {
    d->owner = this;
    d->portDir = std::move(portDir);
}

Simulator::~Simulator() {
    stop();
}

void Simulator::addController(const ControllerConfig& config) {
    auto c = std::make_unique<Controller>();
    c->cfg = config;
    c->grating = std::clamp(config.startGrating, 1, std::max(1, int(config.gratings.size())));
    c->wavelength = config.startWavelength;
    d->controllers.push_back(std::move(c));
}

bool Simulator::start(std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        stop();
        return false;
    };
    if (d->thread.joinable())
        return true;
    if (d->portDir.empty()) {
        char tmpl[] = "/tmp/orvane-sim-XXXXXX";
        if (!::mkdtemp(tmpl))
            return fail("cannot create a port folder");
        d->portDir = tmpl;
        d->ownDir = true;
    } else if (::mkdir(d->portDir.c_str(), 0755) != 0 && errno != EEXIST) {
        return fail("cannot create " + d->portDir);
    }
    for (auto& c : d->controllers)
        if (std::string why = d->attach(*c); !why.empty())
            return fail(why);
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->wakeFd < 0)
        return fail("eventfd");
    d->stopping = false;
    d->thread = std::thread([this] { d->run(); });
    return true;
}

void Simulator::stop() {
    if (d->thread.joinable()) {
        {
            std::lock_guard lock(d->m);
            d->stopping = true;
        }
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(d->wakeFd, &one, sizeof one);
        d->thread.join();
    }
    for (auto& c : d->controllers)
        if (!c->dead && c->master >= 0)
            c->close();
    if (d->wakeFd >= 0)
        ::close(d->wakeFd);
    d->wakeFd = -1;
    if (d->ownDir) {
        ::rmdir(d->portDir.c_str());
        d->ownDir = false;
        d->portDir.clear();
    }
}

const std::string& Simulator::portDir() const {
    return d->portDir;
}

std::string Simulator::portPath(int com) const {
    return d->portDir + "/COM" + std::to_string(com);
}

std::string Simulator::devicePath(int com) const {
    std::lock_guard lock(d->m);
    Controller* c = d->find(com);
    return c ? c->device : std::string();
}

void Simulator::hangup(int com) {
    {
        std::lock_guard lock(d->m);
        d->hangups.push_back(com);
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(d->wakeFd, &one, sizeof one);
}

bool Simulator::revive(int com) {
    bool ok = false;
    {
        std::lock_guard lock(d->m);
        Controller* c = d->find(com);
        // A hang-up asked for and not carried out yet comes first.
        if (c && std::erase(d->hangups, com) > 0)
            c->close();
        if (c && c->dead)
            ok = d->attach(*c).empty();
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(d->wakeFd, &one, sizeof one);
    return ok;
}

void Simulator::setFaults(int com, const std::function<void(ControllerConfig&)>& Change) {
    std::lock_guard lock(d->m);
    if (Controller* c = d->find(com)) {
        const int number = c->cfg.comNumber;
        Change(c->cfg);
        c->cfg.comNumber = number; // the port stays where it is
    }
}

void Simulator::inject(int com, const std::string& Bytes) {
    {
        std::lock_guard lock(d->m);
        Controller* c = d->find(com);
        if (!c || c->dead)
            return;
        c->output.push_back({nowNs(), Bytes, false});
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(d->wakeFd, &one, sizeof one);
}

ControllerConfig Simulator::faults(int com) const {
    std::lock_guard lock(d->m);
    Controller* c = d->find(com);
    return c ? c->cfg : ControllerConfig{};
}

int Simulator::grating(int com) const {
    std::lock_guard lock(d->m);
    Controller* c = d->find(com);
    return c ? c->grating : 0;
}

double Simulator::wavelength(int com) const {
    std::lock_guard lock(d->m);
    Controller* c = d->find(com);
    return c ? c->wavelength : 0;
}

int Simulator::commandCount(int com) const {
    std::lock_guard lock(d->m);
    Controller* c = d->find(com);
    return c ? c->commandsSeen : 0;
}

std::string Simulator::received(int com) const {
    std::lock_guard lock(d->m);
    Controller* c = d->find(com);
    return c ? c->received : std::string();
}

// ---------------------------------------------------------------------------------------------------------

SimProcess::SimProcess(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    FPid = ::fork();
    if (FPid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (FPid < 0) {
        ::close(out[0]);
        return;
    }
    // The program prints ORVANE_PORT_DIR=<folder> once its ports are ready.
    std::string text;
    const std::string key = "ORVANE_PORT_DIR=";
    long long deadline = nowNs() + 10'000'000'000LL;
    while (nowNs() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[512];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, std::size_t(n));
        auto at = text.find(key);
        if (at != std::string::npos) {
            auto end = text.find('\n', at);
            if (end != std::string::npos) {
                FPortDir = text.substr(at + key.size(), end - at - key.size());
                break;
            }
        }
    }
    ::close(out[0]);
}

SimProcess::~SimProcess() {
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    int status = 0;
    ::waitpid(FPid, &status, 0);
}

} // namespace orvanesim
