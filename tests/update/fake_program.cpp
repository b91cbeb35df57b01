// A stand-in for a program the player or the updater starts: it appends
// one line to "starts.log" in its working directory, then, given "wait",
// stays until it is ended (at most 60 s).

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    std::ofstream("starts.log", std::ios::app) << "started\n";
    if (argc > 1 && std::strcmp(argv[1], "wait") == 0)
        std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
