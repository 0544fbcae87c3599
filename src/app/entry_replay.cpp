// The entry point of zibu_replay, the scripted run (a console program on every platform).
#include "app/replay.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zibu_replay %s\n", ZIBU_VERSION);
        return 0;
    }
    return replay_main(argc, argv);
}
