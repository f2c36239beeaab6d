// Records from the microphone with the real recorder until it is killed, printing how many samples
// it has recorded so far: "recorded <n>" every 20 ms. Arguments: the recordings directory and the
// rotation interval in milliseconds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/sound/RealRecorder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: recorder_probe <recordings directory> <rotation ms>\n");
        return 2;
    }
    orvan::testing::RealRecorder real(argv[1], std::chrono::milliseconds(std::atoi(argv[2])));
    bool started = false;
    std::string failure;
    real.recorder->start([&](const std::optional<orvan::RecordingFailure>& answer) {
        if (answer) failure = answer->description();
        started = true;
    });
    for (;;) {
        real.mainLoop->runUntilIdle();
        if (!failure.empty()) {
            std::fprintf(stderr, "start failed: %s\n", failure.c_str());
            return 1;
        }
        if (started) {
            std::printf("recorded %lld\n", static_cast<long long>(real.microphone->framesRecorded()));
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
