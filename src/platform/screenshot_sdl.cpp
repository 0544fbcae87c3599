// Screenshot files on Linux: created only where no file is, and the converter, run only when
// "bmp2png" is found on the PATH, so that a missing converter does not print a shell error
// after every screenshot.
#include "platform/screenshot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool on_path(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    while (*path) {
        const char* end = std::strchr(path, ':');
        size_t len = end ? static_cast<size_t>(end - path) : std::strlen(path);
        std::string candidate = len ? std::string(path, len) : std::string(".");
        candidate += '/';
        candidate += program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        if (!end) break;
        path = end + 1;
    }
    return false;
}

}  // namespace

void run_converter(const char* name) {
    if (!on_path("bmp2png")) return;
    char command[300];
    std::snprintf(command, sizeof command, "bmp2png -9 -E %s", name);
    int ignored = std::system(command);
    (void)ignored;
}

std::FILE* create_new_file(const char* name, bool* taken) {
    const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "wb");
    if (!f) close(fd);
    return f;
}
