// kestrafin-peak-memory COMMAND [ARGS...]: runs the command with its output
// thrown away and prints its peak resident memory in KiB. Being small, this
// program adds little to the figure, unlike a fork of a large interpreter,
// whose memory the child's high-water mark would inherit.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: kestrafin-peak-memory COMMAND [ARGS...]\n"
            "Runs COMMAND with its output thrown away and prints its peak memory in KiB.");
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrafin-peak-memory COMMAND [ARGS...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) return 2;
    std::printf("%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
