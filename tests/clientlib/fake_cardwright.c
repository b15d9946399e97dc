/* Stands in for cardwright-sim in the launch tests: writes its arguments, one
 * per line, to the file named by CW_FAKE_ARGV_FILE (via a temporary file and
 * a rename, so a reader never sees half of it), and exits. */
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
    fclose(out);
    return rename(temporary, target) == 0 ? 0 : 4;
}
