#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace orvan::testing {

// The private sound server of tools/test-env.sh, driven with pactl: "mic" (a remap of the null sink
// "micsink"'s monitor) is the default source, "spk" the default sink.
class SoundServer {
public:
    static bool available() { return std::system("pactl info >/dev/null 2>&1") == 0; }

    // Runs a command and answers its standard output without the trailing newline.
    static std::string run(const std::string& command) {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe) throw std::runtime_error("cannot run " + command);
        std::string output;
        std::array<char, 256> buffer{};
        while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr) output += buffer.data();
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
        return output;
    }

    static std::string defaultSource() { return run("pactl get-default-source"); }

    // Loads a module for the lifetime of this object.
    class Module {
    public:
        explicit Module(const std::string& arguments) : index_(run("pactl load-module " + arguments)) {
            if (index_.empty()) throw std::runtime_error("pactl could not load " + arguments);
        }
        ~Module() { unload(); }
        Module(const Module&) = delete;
        Module& operator=(const Module&) = delete;
        const std::string& index() const { return index_; }
        void unload() {
            if (!index_.empty()) run("pactl unload-module " + index_);
            index_.clear();
        }

    private:
        std::string index_;
    };

    // The microphone hears a steady tone while this lives.
    class Tone : public Module {
    public:
        explicit Tone(int frequency) : Module("module-sine sink=micsink frequency=" + std::to_string(frequency)) {}
    };
};

}  // namespace orvan::testing
