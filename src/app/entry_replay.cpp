// The entry point of zibu_replay, the scripted run (a console program on every platform).
#include "app/replay.h"

int main(int argc, char** argv) { return replay_main(argc, argv); }
