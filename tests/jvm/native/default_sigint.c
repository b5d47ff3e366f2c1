/* Runs a program with SIGINT at its default disposition. A process started with SIGINT ignored
 * (a background job of a non-interactive shell, nohup) passes that on through exec, and a JVM that
 * finds SIGINT ignored never installs its own handler, so the Ctrl-C tests start their child JVMs
 * through this. Usage: default_sigint PROGRAM [ARGUMENT]... */
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [ARGUMENT]...\n", argv[0]);
        return 2;
    }
    if (signal(SIGINT, SIG_DFL) == SIG_ERR) {
        perror("signal");
        return 1;
    }
    execv(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
