#include "cli/voice_control.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "cli/cli_args.h"
#include "effects/effect_registry.h"
#include "filter/effect_stage.h"

namespace qm {

namespace {

constexpr int kVoiceCount = 8;
constexpr const char kPrefix[] = "quillmar-";
constexpr const char kSuffix[] = ".sock";
constexpr int kReplyMs = 2000;
constexpr size_t kLineMax = 200;

bool SameIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// $XDG_RUNTIME_DIR when it is a real folder of this user that no one else may write into.
bool RuntimeFolder(std::string& folder, std::string& error) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (dir == nullptr || dir[0] != '/') {
        error = "XDG_RUNTIME_DIR is not set";
        return false;
    }
    if (::lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 022) != 0) {
        error = std::string("XDG_RUNTIME_DIR '") + dir + "' is not a private folder of this user";
        return false;
    }
    folder = dir;
    return true;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads one line of at most kLineMax bytes, waiting at most kReplyMs in all.
bool ReadLine(int fd, std::string& line) {
    line.clear();
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kReplyMs) <= 0)
            return false;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        if (line.size() >= kLineMax)
            return false;
        line += c;
    }
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const ssize_t n = ::send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

int VoiceIdOf(const std::string& nameOrIndex) {
    if (SameIgnoringCase(nameOrIndex, "none"))
        return 0;
    int32_t number = 0;
    if (ParseInt32(nameOrIndex, number))
        return number >= 0 && number <= kVoiceCount ? number : -1;
    VoiceEffect* effect = EffectRegistry::Instance().FindByName(nameOrIndex.c_str());
    return effect == nullptr ? -1 : RecorderIndexOf(*effect);
}

const char* VoiceNameOf(int id) {
    VoiceEffect* effect = id > 0 ? EffectForRecorderIndex(id) : nullptr;
    return effect == nullptr ? "none" : effect->GetName();
}

std::string VoiceNames() {
    std::string names;
    for (int id = 1; id <= kVoiceCount; ++id)
        names += std::to_string(id) + " " + VoiceNameOf(id) + ", ";
    return names + "0 none";
}

bool FindControlEndpoints(std::vector<ControlEndpoint>& found, std::string& error) {
    found.clear();
    std::string folder;
    if (!RuntimeFolder(folder, error))
        return false;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        error = "cannot read '" + folder + "': " + std::strerror(errno);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const size_t head = sizeof kPrefix - 1, tail = sizeof kSuffix - 1;
        if (name.size() <= head + tail || name.compare(0, head, kPrefix) != 0 ||
            name.compare(name.size() - tail, tail, kSuffix) != 0)
            continue;
        int32_t pid = 0;
        if (!ParseInt32(name.substr(head, name.size() - head - tail), pid) || pid <= 0)
            continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        // Only a socket of this user: a link is never followed into someone else's folder.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
            continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH) {
            ::unlink(path.c_str());  // its command was killed
            continue;
        }
        found.push_back({pid, path});
    }
    ::closedir(dir);
    return true;
}

bool AskControl(const ControlEndpoint& endpoint, const std::string& request, std::string& reply,
                std::string& error) {
    sockaddr_un address{};
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0 || !FillAddress(endpoint.path, address) ||
        ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot reach the command (process " + std::to_string(endpoint.pid) +
                "): " + std::strerror(errno);
        return false;
    }
    if (!WriteAll(fd.get(), request + "\n") || !ReadLine(fd.get(), reply)) {
        error = "the command (process " + std::to_string(endpoint.pid) + ") did not answer";
        return false;
    }
    return true;
}

VoiceControl::~VoiceControl() {
    if (thread_.joinable()) {
        const char wake = 'x';
        [[maybe_unused]] const ssize_t n = ::write(wakeFds_[1], &wake, 1);
        thread_.join();
    }
    for (int fd : {listenFd_, wakeFds_[0], wakeFds_[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (!path_.empty())
        ::unlink(path_.c_str());
    if (keys_)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

void VoiceControl::Open(int currentId, std::string& warning) {
    current_.store(currentId);
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        warning = "cannot take voice switches: " + std::string(std::strerror(errno));
        return;
    }
    std::string folder;
    if (RuntimeFolder(folder, warning)) {
        const std::string path = folder + "/" + kPrefix + std::to_string(::getpid()) + kSuffix;
        sockaddr_un address{};
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A socket of this name was left by a killed process that had our id: unlink removes
        // a link itself, never its target, and the new socket is made only for this user.
        ::unlink(path.c_str());
        const mode_t mask = ::umask(0177);
        const bool bound =
            listenFd_ >= 0 && FillAddress(path, address) &&
            ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::umask(mask);
        if (bound && ::listen(listenFd_, 8) == 0) {
            path_ = path;
        } else {
            warning = "cannot open the control socket '" + path + "': " + std::strerror(errno);
            if (listenFd_ >= 0)
                ::close(listenFd_);
            listenFd_ = -1;
        }
    }
    // Keys only when this process owns the terminal in the foreground.
    if (::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp() &&
        ::tcgetattr(STDIN_FILENO, &saved_) == 0) {
        struct termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        keys_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    if (listenFd_ >= 0 || keys_)
        thread_ = std::thread([this] { Listen(); });
}

void VoiceControl::Wake() {
    {
        std::lock_guard<std::mutex> lock(newsMutex_);
        news_ = true;
    }
    newsCame_.notify_one();
}

void VoiceControl::Pause(long ns) {
    std::unique_lock<std::mutex> lock(newsMutex_);
    newsCame_.wait_for(lock, std::chrono::nanoseconds(ns), [this] { return news_; });
    news_ = false;
}

void VoiceControl::Key(char key) {
    if (key >= '0' && key <= '0' + kVoiceCount)
        requested_.store(key - '0', std::memory_order_release);
    else if (key == 'm' || key == 'M')
        hearing_.store(true, std::memory_order_release);
    else if (key == 'q' || key == 'Q')
        stop_.store(true, std::memory_order_release);
}

void VoiceControl::Answer(int client) {
    std::string line;
    if (!ReadLine(client, line))
        return;
    if (line == "status") {
        WriteAll(client, std::string("voice ") + VoiceNameOf(current_.load()) + "\n");
        return;
    }
    const int id = line.rfind("switch ", 0) == 0 ? VoiceIdOf(line.substr(7)) : -1;
    if (id < 0) {
        WriteAll(client, "error unknown request\n");
        return;
    }
    requested_.store(id, std::memory_order_release);
    Wake();
    WriteAll(client, std::string("ok ") + VoiceNameOf(id) + "\n");
}

void VoiceControl::Listen() {
    bool keys = keys_;
    for (;;) {
        pollfd fds[3] = {{wakeFds_[0], POLLIN, 0},
                         {listenFd_, POLLIN, 0},
                         {keys ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        if ((fds[1].revents & POLLIN) != 0) {
            Fd client(::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC));
            if (client.get() >= 0)
                Answer(client.get());
        }
        if ((fds[2].revents & POLLIN) != 0) {
            char key = 0;
            if (::read(STDIN_FILENO, &key, 1) == 1) {
                Key(key);
                Wake();
            }
        } else if (fds[2].revents != 0) {
            keys = false;  // the terminal went away
        }
    }
}

}  // namespace qm
