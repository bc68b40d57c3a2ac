/* The irreducible work of one payment run, for comparison: load the
 * library, call ProcessOwFull on a 2939-byte record, write three small
 * files. No settings, no switches, no formatting beyond a few fields. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int (*ProcessOwFullFn)(void*, unsigned);

static void WriteFile(const char* folder, const char* name, const void* bytes, size_t n)
{
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    FILE* f = fopen(path, "wb");
    if (f == NULL) return;
    fwrite(bytes, 1, n, f);
    fclose(f);
}

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) return 1;
    ProcessOwFullFn process = (ProcessOwFullFn)dlsym(library, "ProcessOwFull");
    if (process == NULL) return 1;

    static unsigned char record[2939];
    record[8] = 1;
    memcpy(record + 197, "221", 3);
    memcpy(record + 223, "643", 3);
    process(record, sizeof record);

    WriteFile(argv[2], "output.dat", record + 258, 4);
    WriteFile(argv[2], "output_ex.dat", record + 236, 13);
    WriteFile(argv[2], "output_ex.txt", record + 72, 20);
    dlclose(library);
    return 0;
}
