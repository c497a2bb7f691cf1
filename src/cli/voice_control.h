#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm {

// Changing voice while a live command runs: from its terminal (keys 1-8 and 0, m, q) and from
// anywhere through a control socket in $XDG_RUNTIME_DIR, one per running command, named after
// its process and open to its user only.
//
// The protocol is one line each way: "switch ID" (ID as `quillmar list` numbers the voices, 0
// for none) is answered "ok NAME"; "status" is answered "voice NAME".

// The voice id of a name (any case), a number 0..8 or "none"; -1 when there is no such voice.
int VoiceIdOf(const std::string& nameOrIndex);
// The voice's name, "none" for 0.
const char* VoiceNameOf(int id);
// Every voice's name, for an error message.
std::string VoiceNames();

// Sockets of running commands: process id and path. Stale ones (their process gone) are
// removed; anything that is not a socket of ours is left alone and never connected to.
struct ControlEndpoint {
    pid_t pid;
    std::string path;
};
bool FindControlEndpoints(std::vector<ControlEndpoint>& found, std::string& error);
// Sends one request line and returns the reply line.
bool AskControl(const ControlEndpoint& endpoint, const std::string& request, std::string& reply,
                std::string& error);

class VoiceControl {
  public:
    VoiceControl() = default;
    // Stops listening, removes the socket and gives the terminal back as it was.
    ~VoiceControl();
    VoiceControl(const VoiceControl&) = delete;
    VoiceControl& operator=(const VoiceControl&) = delete;

    // Opens the socket and, when stdin is this process's terminal, the keys. A socket that
    // cannot be made is no failure: `warning` says why and the keys still work.
    void Open(int currentId, std::string& warning);

    // The voice last asked for and not yet taken, or -1.
    int TakeRequest() { return requested_.exchange(-1, std::memory_order_acq_rel); }
    bool StopAsked() const { return stop_.load(std::memory_order_acquire); }
    // True once per press of m.
    bool TakeHearingToggle() { return hearing_.exchange(false, std::memory_order_acq_rel); }
    // The voice heard now, for status replies.
    void SetCurrent(int id) { current_.store(id, std::memory_order_release); }
    const std::string& SocketPath() const { return path_; }
    // Sleeps up to `ns`, less when a key or a request comes meanwhile, so that a switch waits
    // for no watch period. The command's own thread.
    void Pause(long ns);

  private:
    void Listen();
    void Answer(int client);
    void Key(char key);
    void Wake();

    std::string path_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    bool keys_ = false;
    struct termios saved_ {};
    std::thread thread_;
    std::atomic<int> requested_{-1};
    std::atomic<int> current_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> hearing_{false};
    std::mutex newsMutex_;
    std::condition_variable newsCame_;
    bool news_ = false;
};

}  // namespace qm
