// Binds the receiver library the way the program does and prints which file it took and
// whether that is the simulator ("<path> simulated" or "<path> receiver"), or "none".
#include <cstdio>

#include "ReceiverAccess.h"

int main()
{
    TReceiverAccess receiver;
    if (!receiver.BindReceiverLibrary({})) {
        std::puts("none");
        return 1;
    }
    std::printf("%s %s\n", receiver.LibraryPath().c_str(),
                receiver.IsSimulated() ? "simulated" : "receiver");
    return 0;
}
