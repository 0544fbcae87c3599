// The Linux program's entry point.
#include "app/main_loop.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    // Which Zibu this is, on the line before the OpenGL context's.
    std::fprintf(stderr, "Zibu %s\n", ZIBU_VERSION);
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    main_loop(command_line.c_str());
    return 0;
}
