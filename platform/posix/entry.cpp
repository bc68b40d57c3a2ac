// POSIX entry: the argument text is the arguments joined with single blanks,
// so one argument that holds a whole command line passes through unchanged.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "app/run_flow.h"

namespace {

// A caller that started us with standard output closed would let a result
// file take descriptor 1, and anything printed (by the library too) would
// land in it.
void OpenClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    OpenClosedStandardStreams();
    std::string argumentText;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) argumentText += ' ';
        argumentText += argv[i];
    }
    // -1 leaves the process as 255.
    return RunBrennick(argumentText.c_str());
}
