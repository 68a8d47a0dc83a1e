/* Run on the build machine: writes utf8proc's simple upper case of every
 * code point that has one as C initializers ("{0x61, 0x41},"), sorted, for
 * the Windows build, which cannot link utf8proc. Usage: make_case_table OUT */
#include <stdio.h>
#include <utf8proc.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_case_table OUT\n");
        return 2;
    }
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "/* Made by make_case_table from utf8proc %s. */\n", utf8proc_version());
    for (utf8proc_int32_t point = 0; point <= 0x10FFFF; ++point) {
        const utf8proc_int32_t upper = utf8proc_toupper(point);
        if (upper != point) fprintf(out, "{0x%X, 0x%X},\n", (unsigned)point, (unsigned)upper);
    }
    if (fclose(out) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
