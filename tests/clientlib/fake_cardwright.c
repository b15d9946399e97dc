/* Stands in for cardwright-sim in the launch tests: writes its arguments, one
 * per line, to the file named by CW_FAKE_ARGV_FILE (via a temporary file and
 * a rename, so a reader never sees half of it), then a line "fds: N" with the
 * number of open descriptors above 2, and exits. */
#define _POSIX_C_SOURCE 200809L
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    const char* target = getenv("CW_FAKE_ARGV_FILE");
    if (target == NULL)
        return 2;
    char temporary[4096];
    snprintf(temporary, sizeof temporary, "%s.tmp", target);
    FILE* out = fopen(temporary, "w");
    if (out == NULL)
        return 3;
    for (int i = 0; i < argc; ++i)
        fprintf(out, "%s\n", argv[i]);
    int inherited = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (fds != NULL) {
        const int own = dirfd(fds);
        const int file = fileno(out);
        for (struct dirent* e = readdir(fds); e != NULL; e = readdir(fds)) {
            const int fd = atoi(e->d_name);
            if (e->d_name[0] != '.' && fd > 2 && fd != own && fd != file)
                ++inherited;
        }
        closedir(fds);
    }
    fprintf(out, "fds: %d\n", inherited);
    fclose(out);
    return rename(temporary, target) == 0 ? 0 : 4;
}
