#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/sound/SoundServer.h"

namespace orvan::testing {

// A sound server of a test's own, next to the shared one, for what the shared one must not go
// through: being killed, having no output at all. While `use()`d, new connections of this process
// go to it.
class PrivateSoundServer {
public:
    PrivateSoundServer(const std::filesystem::path& dir, const std::vector<std::string>& modules)
        : dir_(dir), modules_(modules) {
        std::filesystem::create_directories(dir / "run");
        std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
        std::filesystem::create_directories(dir / "state");
        start();
    }
    // Starts the server (again, after `kill`) at the same address with the same modules.
    void start() {
        std::vector<std::string> arguments{"pulseaudio",
                                           "--daemonize=no",
                                           "-n",
                                           "--exit-idle-time=-1",
                                           "--disallow-exit=yes",
                                           "--log-target=file:" + (dir_ / "pulse.log").string(),
                                           "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket()};
        for (const auto& module : modules_) arguments.push_back("--load=" + module);
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("cannot fork the private sound server");
        if (pid_ == 0) {
            setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", (dir_ / "run").c_str(), 1);
            setenv("PULSE_STATE_PATH", (dir_ / "state").c_str(), 1);
            // The shared server holds the session bus's one name for a sound server: stay off the bus.
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir_ / "no-bus").string()).c_str(), 1);
            std::vector<char*> argv;
            for (auto& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pactl("info").empty()) {
            if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("the private sound server did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~PrivateSoundServer() {
        unuse();
        kill();
    }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    std::string address() const { return "unix:" + socket(); }

    // pactl on this server; its standard output.
    std::string pactl(const std::string& arguments) const {
        return SoundServer::run("PULSE_SERVER=" + address() + " pactl " + arguments + " 2>/dev/null");
    }

    // Connections made from now on go to this server.
    void use() {
        if (const char* current = getenv("PULSE_SERVER")) previous_ = current;
        setenv("PULSE_SERVER", address().c_str(), 1);
        using_ = true;
    }
    void unuse() {
        if (!using_) return;
        if (previous_) {
            setenv("PULSE_SERVER", previous_->c_str(), 1);
        } else {
            unsetenv("PULSE_SERVER");
        }
        using_ = false;
    }

    // Ends the server at once, as a crash would.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    std::string socket() const { return (dir_ / "native").string(); }

    std::filesystem::path dir_;
    std::vector<std::string> modules_;
    pid_t pid_ = -1;
    bool using_ = false;
    std::optional<std::string> previous_;
};

}  // namespace orvan::testing
