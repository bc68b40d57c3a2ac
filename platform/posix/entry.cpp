// POSIX entry: the argument text is the arguments joined with single blanks,
// so one argument that holds a whole command line passes through unchanged.
#include <string>

#include "app/run_flow.h"

int main(int argc, char** argv)
{
    std::string argumentText;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) argumentText += ' ';
        argumentText += argv[i];
    }
    // -1 leaves the process as 255.
    return RunBrennick(argumentText.c_str());
}
