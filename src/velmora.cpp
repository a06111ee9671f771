// The process entry; it takes no options and ignores its arguments.
#include "main.h"

int main() {
    return run_velmora();
}
