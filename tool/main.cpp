#include "platform/net.h"
#include "tool/tool.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (netStartup() != 0) {
        printf("Error in initialisation sockets\n");
        return 3;
    }
    return toolRun(argc, argv);
}
