// tarnovel: the show, live, in a window with its music. Takes no arguments.
#include "driver.h"
#include "host.h"

int main() {
    hostInitLive();
    runDemo();
}
