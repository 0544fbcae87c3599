#pragma once
// Scripted runs (zibu_replay): the real main loop, every frame's input and clock taken from a
// script, with the pictures the script asks for and a digest of every frame written to a folder.
#include <cstdint>

// "frame N score S nodes T plotted P": the frame's number, the ship's score, the nodes in the
// tree and the plot operations of the frame (opaque and transparent). Printed the same by every
// C runtime. out must hold REPLAY_DIGEST_SIZE bytes.
constexpr int REPLAY_DIGEST_SIZE = 96;
void replay_digest_line(char* out, uint32_t frame, double score, uint32_t nodes, uint32_t plotted);

// zibu_replay SCRIPT [OUTDIR]: plays SCRIPT, writing OUTDIR/digest.txt and OUTDIR/NAME.bmp for
// each shot (OUTDIR defaults to the working folder and is created when missing). Returns the
// process's exit status: 0 after the run, 2 when the arguments, the script or the folder are
// wrong (with a message on stderr; nothing runs then).
int replay_main(int argc, char** argv);
