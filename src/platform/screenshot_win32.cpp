// Screenshot files on Windows: created only where no file is. The converter is handed to the
// command processor as it stands; its result is ignored, so a missing converter costs nothing
// but the attempt.
#include "platform/screenshot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

void run_converter(const char* name) {
    char command[300];
    std::snprintf(command, sizeof command, "bmp2png -9 -E %s", name);
    int ignored = std::system(command);
    (void)ignored;
}

std::FILE* create_new_file(const char* name, bool* taken) {
    const int fd = _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    *taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return nullptr;
    std::FILE* f = _fdopen(fd, "wb");
    if (!f) _close(fd);
    return f;
}
