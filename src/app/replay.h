#pragma once
// Scripted runs (zibu_replay): the real main loop, every frame's input and clock taken from a
// script, with the pictures the script asks for and a digest of every frame written to a folder.

// zibu_replay SCRIPT [OUTDIR]: plays SCRIPT, writing OUTDIR/NAME.bmp for each shot and
// OUTDIR/digest.txt, one line a frame: "frame N score S nodes T plotted P", the ship's score,
// the nodes in the tree and the plot operations of the frame (opaque and transparent), printed
// the same by every C runtime. OUTDIR defaults to the working folder and is created when
// missing. Returns the process's exit status: 0 after the run, 2 when the arguments, the script
// or the folder are wrong (with a message on stderr; nothing runs then).
int replay_main(int argc, char** argv);
